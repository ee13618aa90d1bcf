// SPDX-License-Identifier: GPL-3.0-or-later
#include "HostAddresses.h"

#include <QHostAddress>
#include <QNetworkInterface>

QStringList hostAddresses()
{
    QStringList texts;
    const QList<QHostAddress> addresses = QNetworkInterface::allAddresses();
    for (const QHostAddress &address : addresses)
        texts.append(address.toString());
    return texts;
}

QString primaryHostAddress()
{
    // The first address that is not a loopback one, as a platform would pick a host's "address".
    const QList<QHostAddress> addresses = QNetworkInterface::allAddresses();
    for (const QHostAddress &address : addresses) {
        if (!address.isLoopback())
            return address.toString();
    }
    return addresses.isEmpty() ? QString() : addresses.first().toString();
}
