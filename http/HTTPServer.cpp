// SPDX-License-Identifier: GPL-3.0-or-later
#include "HTTPServer.h"

#include "HTTPConnection.h"
#include "HTTPLogging.h"
#include "HTTPResponseHandler.h"
#include "SystemLog.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <csignal>
#include <exception>
#include <fcntl.h>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Connections accepted per wake-up of the listening socket, so that a flood of them does not hold the loop.
constexpr int acceptBatch = 64;

// When the process is out of descriptors the listening socket stays readable; instead of spinning on it,
// accepting pauses for this long and then tries again.
constexpr std::chrono::milliseconds acceptRetryDelay{100};

bool makeNonBlocking(int descriptor)
{
    const int flags = ::fcntl(descriptor, F_GETFL);
    return flags >= 0 && ::fcntl(descriptor, F_SETFL, flags | O_NONBLOCK) == 0
           && ::fcntl(descriptor, F_SETFD, FD_CLOEXEC) == 0;
}

} // namespace

QString HTTPServerError::description() const
{
    return QStringLiteral("Error Domain=%1 Code=%2 \"%3\"").arg(domain).arg(code).arg(localizedDescription);
}

HTTPServer *HTTPServer::sharedHTTPServer()
{
    static std::mutex lock;
    static HTTPServer *instance = nullptr;
    const std::lock_guard<std::mutex> guard(lock);
    if (!instance)
        instance = new HTTPServer();
    return instance;
}

HTTPServer::HTTPServer(HTTPServerOptions options, QObject *parent)
    : QObject(parent)
    , m_options(std::move(options))
{
}

HTTPServer::~HTTPServer()
{
    QSignalBlocker quiet(this);
    stop();
}

void HTTPServer::setState(qint32 state)
{
    if (state == m_state)
        return;
    m_state = state;
    emit stateChanged(this);
}

void HTTPServer::setLastError(std::optional<HTTPServerError> error)
{
    m_lastError = std::move(error);
    if (!m_lastError)
        return;
    stop();
    systemLog(QStringLiteral("HTTPServer error: %1").arg(m_lastError->description()));
}

void HTTPServer::errorWithName(const QString &text)
{
    const QByteArray key = text.toUtf8();
    setLastError(HTTPServerError{QStringLiteral("HTTPServerError"), 0,
                                 QCoreApplication::translate("HTTPServer", key.constData())});
}

void HTTPServer::start()
{
    if (m_state != HTTPServerStateIdle)
        return;
    // Every send() says MSG_NOSIGNAL, but sendfile() cannot: a handset that hangs up during a download would end
    // the process with SIGPIPE instead of failing the write. The signal can only be refused for the whole process.
    std::signal(SIGPIPE, SIG_IGN);
    setLastError(std::nullopt);
    setState(HTTPServerStateStarting);
    if (!openListeningSocket())
        return;
    setState(HTTPServerStateRunning);
}

bool HTTPServer::openListeningSocket()
{
    m_listeningDescriptor = ::socket(PF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (m_listeningDescriptor < 0) {
        errorWithName(QStringLiteral("Unable to create socket."));
        return false;
    }

    const int reuse = 1;
    if (::setsockopt(m_listeningDescriptor, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse) != 0
        || !makeNonBlocking(m_listeningDescriptor)) {
        errorWithName(QStringLiteral("Unable to set socket options."));
        return false;
    }

    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(m_options.port);
    address.sin_addr.s_addr = htonl(m_options.address.toIPv4Address());
    if (::bind(m_listeningDescriptor, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0
        || ::listen(m_listeningDescriptor, SOMAXCONN) != 0) {
        errorWithName(QStringLiteral("Unable to bind socket to address."));
        return false;
    }

    socklen_t length = sizeof address;
    if (::getsockname(m_listeningDescriptor, reinterpret_cast<sockaddr *>(&address), &length) == 0)
        m_boundPort = ntohs(address.sin_port);

    m_listeningHandle = new QSocketNotifier(m_listeningDescriptor, QSocketNotifier::Read, this);
    connect(m_listeningHandle, &QSocketNotifier::activated, this, &HTTPServer::receiveIncomingConnections);
    return true;
}

void HTTPServer::closeListeningSocket()
{
    delete m_listeningHandle;
    m_listeningHandle = nullptr;
    if (m_listeningDescriptor >= 0)
        ::close(m_listeningDescriptor);
    m_listeningDescriptor = -1;
    m_boundPort = 0;
}

void HTTPServer::stop()
{
    setState(HTTPServerStateStopping);

    closeListeningSocket();
    while (!m_incomingRequests.empty())
        stopReceivingForConnection(m_incomingRequests.begin()->first, true);
    // Every other connection belongs to a handler, answering or still sending its answer: each is cut short, and
    // its handler, told so, ends and goes.
    const QList<HTTPConnection *> handedOver = findChildren<HTTPConnection *>();
    for (HTTPConnection *connection : handedOver)
        connection->abort();
    Q_ASSERT(m_responseHandlers.empty());

    setState(HTTPServerStateIdle);
}

void HTTPServer::closeHandler(HTTPResponseHandler *handler)
{
    if (m_responseHandlers.erase(handler) == 0)
        return;
    handler->endResponse();
}

void HTTPServer::stopReceivingForConnection(HTTPConnection *connection, bool close)
{
    disconnect(connection, nullptr, this, nullptr);
    const auto entry = m_incomingRequests.find(connection);
    if (entry != m_incomingRequests.end()) {
        delete entry->second.headerDeadline;
        m_incomingRequests.erase(entry);
    }
    if (close) {
        connection->abort();
        connection->deleteLater(); // it may be the caller
    }
}

void HTTPServer::receiveIncomingConnections()
{
    for (int accepted = 0; accepted < acceptBatch; ++accepted) {
        sockaddr_storage peer{};
        socklen_t peerLength = sizeof peer;
        const int descriptor = ::accept(m_listeningDescriptor, reinterpret_cast<sockaddr *>(&peer), &peerLength);
        if (descriptor < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK) {
                m_listeningHandle->setEnabled(false);
                QTimer::singleShot(acceptRetryDelay, this, [this] {
                    if (m_listeningHandle)
                        m_listeningHandle->setEnabled(true);
                });
            }
            return;
        }
        if (!makeNonBlocking(descriptor)) {
            ::close(descriptor);
            continue;
        }
        accept(descriptor, QHostAddress(reinterpret_cast<const sockaddr *>(&peer)));
    }
}

void HTTPServer::accept(int descriptor, const QHostAddress &peer)
{
    // Heads and bodies go out as separate sends; waiting to coalesce them only adds latency.
    const int noDelay = 1;
    ::setsockopt(descriptor, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);

    auto *connection = new HTTPConnection(descriptor, peer, m_options.stallLimit, this);
    connect(connection, &HTTPConnection::closed, this,
            [this, connection] { stopReceivingForConnection(connection, true); });
    connect(connection, &HTTPConnection::dataReceived, this,
            [this, connection](const QByteArray &bytes) { receiveIncomingData(connection, bytes); });
    connect(connection, &HTTPConnection::endOfStream, this,
            [this, connection] { stopReceivingForConnection(connection, true); });

    auto *headerDeadline = new QTimer(connection);
    headerDeadline->setSingleShot(true);
    connect(headerDeadline, &QTimer::timeout, this, [this, connection] {
        qCInfo(lcHttp, "%s timed out: no whole request header within %lld ms",
               qUtf8Printable(connection->peerAddress().toString()), qlonglong(m_options.headerTimeLimit.count()));
        stopReceivingForConnection(connection, true);
    });
    headerDeadline->start(m_options.headerTimeLimit);

    m_incomingRequests.emplace(connection, IncomingRequest{HTTPRequest(), headerDeadline});
}

void HTTPServer::receiveIncomingData(HTTPConnection *connection, const QByteArray &bytes)
{
    const auto entry = m_incomingRequests.find(connection);
    if (entry == m_incomingRequests.end()) {
        stopReceivingForConnection(connection, true);
        return;
    }
    HTTPRequest &request = entry->second.request;
    if (!request.appendBytes(bytes)) {
        qCInfo(lcHttp, "%s refused: not an HTTP request, or a header over %lld bytes",
               qUtf8Printable(connection->peerAddress().toString()), qlonglong(HTTPRequest::maxHeaderBytes));
        stopReceivingForConnection(connection, true);
        return;
    }
    if (request.isHeaderComplete())
        handOver(connection);
}

void HTTPServer::handOver(HTTPConnection *connection)
{
    HTTPRequest request = std::move(m_incomingRequests.at(connection).request);
    stopReceivingForConnection(connection, false);
    connection->setParent(nullptr);
    std::unique_ptr<HTTPConnection> givenAway(connection);

    HTTPResponseHandler *handler =
        HTTPResponseHandler::handlerForRequest(std::move(request), std::move(givenAway), m_endpointContext).release();
    handler->setParent(this);
    connect(handler, &HTTPResponseHandler::responseFinished, this, [this, handler] { closeHandler(handler); });
    // The handler may be inside its own code when its connection closes: it is freed once control is back in the
    // event loop.
    connect(handler, &HTTPResponseHandler::connectionClosed, handler, &QObject::deleteLater);
    m_responseHandlers.insert(handler);
    try {
        handler->startResponse();
    } catch (const std::exception &) {
        // Endpoints answer their own failures; anything else ends this connection, never the server.
        closeHandler(handler);
    }
}
