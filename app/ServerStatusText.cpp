// SPDX-License-Identifier: GPL-3.0-or-later
#include "ServerStatusText.h"

#include "HTTPServer.h"

#include <QCoreApplication>

namespace {

// The port the user's handset is set up for; the one a failed bind was about.
const quint16 applicationPort = HTTPServerOptions{}.port;

QString tr(const char *text)
{
    return QCoreApplication::translate("ServerStatusText", text);
}

QString notServingText(const HTTPServerError &error)
{
    // The server reports this one text for a bind that failed, in practice always a port that is taken.
    if (error.localizedDescription == QLatin1String("Unable to bind socket to address."))
        return tr("Not serving: port %1 is in use by another program.").arg(applicationPort);
    return tr("Not serving: %1").arg(error.localizedDescription);
}

} // namespace

QString serverStatusText(const HTTPServer &server)
{
    switch (server.state()) {
    case HTTPServer::HTTPServerStateStarting:
        return tr("Starting…");
    case HTTPServer::HTTPServerStateRunning:
        return tr("Serving on port %1").arg(server.serverPort());
    case HTTPServer::HTTPServerStateStopping:
        return tr("Stopping…");
    default:
        return server.lastError() ? notServingText(*server.lastError()) : tr("Stopped");
    }
}
