// SPDX-License-Identifier: GPL-3.0-or-later
#include "AddressPanel.h"

#include "PanelStyle.h"

#include <QHostAddress>
#include <QLabel>
#include <QNetworkInformation>
#include <QTimer>
#include <QVBoxLayout>

namespace {

// Read from across a desk while typing into a handset.
constexpr qreal addressFontScale = 1.6;
// A new address (another network, a renewed lease) shows up this soon where nothing announces it; asking the
// system is cheap, but there is no reason to do it more often than a user could notice.
constexpr int pollInterval = 10'000;

} // namespace

AddressPanel::AddressPanel(HostAddressSource source, QWidget *parent)
    : QWidget(parent)
    , m_source(std::move(source))
{
    m_intro = hintLabel(QString(), this);

    m_addresses = new QLabel(this);
    m_addresses->setObjectName(QStringLiteral("addresses"));
    m_addresses->setTextFormat(Qt::PlainText);
    m_addresses->setTextInteractionFlags(Qt::TextSelectableByMouse);
    QFont font = m_addresses->font();
    font.setPointSizeF(font.pointSizeF() * addressFontScale);
    m_addresses->setFont(font);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    layout->addWidget(m_intro);
    layout->addWidget(m_addresses);

    if (QNetworkInformation::loadBackendByFeatures(QNetworkInformation::Feature::Reachability)) {
        connect(QNetworkInformation::instance(), &QNetworkInformation::reachabilityChanged, this,
                &AddressPanel::refresh);
    } else {
        m_poll = new QTimer(this);
        m_poll->setInterval(pollInterval);
        connect(m_poll, &QTimer::timeout, this, &AddressPanel::refresh);
    }
    // Filled before the window is first laid out, so that it is sized and placed with its addresses.
    refresh();
}

QStringList AddressPanel::handsetAddresses(const QStringList &addresses)
{
    QStringList accepted;
    for (const QString &text : addresses) {
        const QHostAddress address(text);
        if (address.protocol() == QAbstractSocket::IPv4Protocol && !address.isLoopback() && !accepted.contains(text))
            accepted.append(text);
    }
    return accepted;
}

void AddressPanel::refresh()
{
    const QStringList addresses = handsetAddresses(m_source.addresses());
    if (addresses.isEmpty())
        m_intro->setText(tr("This computer has no network address yet. Connect it to the network your handset uses."));
    else if (addresses.size() == 1)
        m_intro->setText(tr("Type this address into Pellisor on your handset:"));
    else
        m_intro->setText(tr("Type one of these addresses into Pellisor on your handset:"));
    m_addresses->setText(addresses.join(u'\n'));
    m_addresses->setVisible(!addresses.isEmpty());
}

void AddressPanel::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    refresh();
    if (m_poll)
        m_poll->start();
}

void AddressPanel::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    if (m_poll)
        m_poll->stop();
}
