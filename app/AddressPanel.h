// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "MyController.h"

#include <QWidget>

class QLabel;
class QTimer;

// The addresses to type into the handset, large enough to read across a desk and selectable for copying.
// Unlike the address report it lists every IPv4 address that can reach this computer, not only the usual
// home-network ones.
class AddressPanel : public QWidget
{
    Q_OBJECT

public:
    explicit AddressPanel(HostAddressSource source, QWidget *parent = nullptr);

    // The non-loopback IPv4 addresses among `addresses`, in their order, each once.
    static QStringList handsetAddresses(const QStringList &addresses);

public slots:
    void refresh();

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    HostAddressSource m_source;
    QLabel *m_intro = nullptr;
    QLabel *m_addresses = nullptr;
    // Only where the system cannot say when the network changes.
    QTimer *m_poll = nullptr;
};
