// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "HTTPMessage.h"

#include <QHostAddress>
#include <QObject>
#include <QString>

#include <chrono>
#include <map>
#include <optional>
#include <set>

class HTTPConnection;
class HTTPResponseHandler;
class QSocketNotifier;
class QTimer;
struct EndpointContext;

struct HTTPServerError
{
    QString domain;
    int code = 0;
    QString localizedDescription;

    // "Error Domain=HTTPServerError Code=0 "Unable to bind socket to address.""
    QString description() const;
};

struct HTTPServerOptions
{
    quint16 port = 4556;
    QHostAddress address = QHostAddress::AnyIPv4;
    // A connection that has not sent its whole request header by then is closed, so that silent peers cannot
    // hold descriptors for ever.
    std::chrono::milliseconds headerTimeLimit{30000};
    // A response that the peer has not accepted a single byte of for this long is given up.
    std::chrono::milliseconds stallLimit{60000};
};

// The HTTP server: listens, assembles each connection's request header and hands the connection to the
// handler that the registry picks. Everything runs on the thread of the event loop that created it.
//
// It owns what it accepted: a connection until its request header is complete, then the handler that the
// connection went to, until that connection has closed.
class HTTPServer : public QObject
{
    Q_OBJECT

public:
    enum State : qint32 {
        HTTPServerStateIdle = 0,
        HTTPServerStateStarting = 1,
        HTTPServerStateRunning = 2,
        HTTPServerStateStopping = 3,
    };

    // The application's one server, on port 4556 of every IPv4 interface. Created on first use, never destroyed.
    static HTTPServer *sharedHTTPServer();

    // A server of one's own, for tests: on another port or address, with other limits.
    explicit HTTPServer(HTTPServerOptions options = {}, QObject *parent = nullptr);
    ~HTTPServer() override;
    HTTPServer(const HTTPServer &) = delete;
    HTTPServer &operator=(const HTTPServer &) = delete;

    // What every handler this server creates is given; not owned, and must outlive the server's handlers.
    void setEndpointContext(const EndpointContext *context) { m_endpointContext = context; }

    void start();
    void stop();
    // Ends the handler's response: it leaves the live handlers, and its connection closes once its answer is out.
    void closeHandler(HTTPResponseHandler *handler);

    qint32 state() const { return m_state; }
    const std::optional<HTTPServerError> &lastError() const { return m_lastError; }
    // The port actually bound (differs from the options' port when that is 0), or 0 when not listening.
    quint16 serverPort() const { return m_boundPort; }

    qsizetype incomingRequestCount() const { return qsizetype(m_incomingRequests.size()); }
    qsizetype responseHandlerCount() const { return qsizetype(m_responseHandlers.size()); }

signals:
    void stateChanged(HTTPServer *server);

private:
    struct IncomingRequest
    {
        HTTPRequest request;
        QTimer *headerDeadline;
    };

    void setState(qint32 state);
    void setLastError(std::optional<HTTPServerError> error);
    void errorWithName(const QString &text);
    bool openListeningSocket();
    void closeListeningSocket();
    void stopReceivingForConnection(HTTPConnection *connection, bool close);
    void receiveIncomingConnections();
    void accept(int descriptor, const QHostAddress &peer);
    void receiveIncomingData(HTTPConnection *connection, const QByteArray &bytes);
    void handOver(HTTPConnection *connection);

    const HTTPServerOptions m_options;
    std::optional<HTTPServerError> m_lastError;
    int m_listeningDescriptor = -1;
    QSocketNotifier *m_listeningHandle = nullptr;
    quint16 m_boundPort = 0;
    qint32 m_state = HTTPServerStateIdle;
    const EndpointContext *m_endpointContext = nullptr;
    std::map<HTTPConnection *, IncomingRequest> m_incomingRequests;
    // The handlers that have not ended their response. Every handler is a child of the server.
    std::set<HTTPResponseHandler *> m_responseHandlers;
};
