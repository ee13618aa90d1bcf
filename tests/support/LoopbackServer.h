// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "HTTPServer.h"

#include <QHostAddress>

// A server that tests start listens on the loopback address only, and on a free port unless they name one: tests
// never reach the network and never need the application's own port.
inline HTTPServerOptions loopbackOptions(quint16 port = 0)
{
    HTTPServerOptions options;
    options.port = port;
    options.address = QHostAddress::LocalHost;
    return options;
}
