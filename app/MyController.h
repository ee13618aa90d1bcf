// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QPointer>
#include <QStringList>

#include <functional>

class QMessageBox;
class QWidget;

// Where the report's addresses come from; tests put fixed lists here instead of asking the network.
struct HostAddressSource
{
    std::function<QStringList()> addresses;
    std::function<QString()> primaryAddress;

    static HostAddressSource system();
};

// Answers "which address do I type into the handset?" with the IPv4 addresses a home network is likely to use.
class MyController : public QObject
{
    Q_OBJECT

public:
    explicit MyController(HostAddressSource source = HostAddressSource::system(), QObject *parent = nullptr);

    // The window the alert belongs to; not owned.
    void setAlertParent(QWidget *parent) { m_alertParent = parent; }

    QString getAddressB();
    QString getAddress();

public slots:
    // Shows the report in a modal alert and returns once the user has dismissed it.
    void MyClick();

private:
    HostAddressSource m_source;
    QPointer<QWidget> m_alertParent;
    QPointer<QMessageBox> m_openAlert;
};
