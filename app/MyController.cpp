// SPDX-License-Identifier: GPL-3.0-or-later
#include "MyController.h"

#include "HostAddresses.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

#include <algorithm>
#include <cstring>

namespace {

// The C string buffer getAddress() works through, terminating NUL included.
constexpr qsizetype addressBufferSize = 256;

// Addresses shorter than this cannot be a dotted IPv4 address worth showing.
constexpr qsizetype shortestReportedAddress = 5;

bool isLikelyLocalNetworkAddress(const QString &address)
{
    if (address.size() < shortestReportedAddress)
        return false;
    return address.first(4) == QLatin1String("192.") || address.first(3) == QLatin1String("10.");
}

bool isLatin1(const QString &text)
{
    return std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c.unicode() <= 0xff; });
}

} // namespace

HostAddressSource HostAddressSource::system()
{
    return {hostAddresses, primaryHostAddress};
}

MyController::MyController(HostAddressSource source, QObject *parent)
    : QObject(parent)
    , m_source(std::move(source))
{
}

QString MyController::getAddressB()
{
    QString report;
    int accepted = 0;
    const QStringList addresses = m_source.addresses();
    for (const QString &address : addresses) {
        if (!isLikelyLocalNetworkAddress(address))
            continue;
        report += QLatin1Char('\n') + address;
        ++accepted;
    }
    if (accepted >= 2)
        return tr("Your IP address is likely one of the following:\n\n") + report;
    return report;
}

QString MyController::getAddress()
{
    char buffer[addressBufferSize] = "error";
    const QString address = m_source.primaryAddress();
    if (isLatin1(address)) {
        const QByteArray bytes = address.toLatin1();
        // An address that does not fit with its NUL leaves the buffer saying "error" rather than cutting it short.
        if (bytes.size() < addressBufferSize)
            std::memcpy(buffer, bytes.constData(), size_t(bytes.size()) + 1);
    }
    return QString::fromLatin1(buffer);
}

void MyController::MyClick()
{
    // A second request while the alert is up (from the tray) brings that alert forward instead of stacking another.
    if (m_openAlert) {
        m_openAlert->raise();
        m_openAlert->activateWindow();
        return;
    }

    const QString report = getAddressB();
    QMessageBox alert(QMessageBox::NoIcon, tr("IP Address"), report.isEmpty() ? tr("Unknown") : report,
                      QMessageBox::Ok, m_alertParent);
    alert.setTextFormat(Qt::PlainText);
    QAbstractButton *ok = alert.button(QMessageBox::Ok);
    ok->setText(tr("OK"));
    ok->setIcon({});
    const QIcon icon = QApplication::windowIcon();
    if (!icon.isNull())
        alert.setIconPixmap(icon.pixmap(64));
    m_openAlert = &alert;
    alert.exec();
}
