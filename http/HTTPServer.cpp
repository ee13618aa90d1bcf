#include "HTTPServer.h"

#include "HTTPConnection.h"
#include "HTTPResponseHandler.h"
#include "SystemLog.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
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

    // Handlers end their responses as they go; the connections still sending are then cut short.
    m_responseHandlers.clear();
    closeListeningSocket();
    while (!m_incomingRequests.empty())
        stopReceivingForConnection(m_incomingRequests.begin()->first, true);
    const QList<HTTPConnection *> finishing = findChildren<HTTPConnection *>(Qt::FindDirectChildrenOnly);
    for (HTTPConnection *connection : finishing)
        connection->abort();

    setState(HTTPServerStateIdle);
}

void HTTPServer::closeHandler(HTTPResponseHandler *handler)
{
    handler->endResponse();
    const auto entry = m_responseHandlers.find(handler);
    if (entry == m_responseHandlers.end())
        return;
    // The handler may be inside its own startResponse(): it is freed only once control is back in the loop.
    entry->second.release()->deleteLater();
    m_responseHandlers.erase(entry);
}

void HTTPServer::stopReceivingForConnection(HTTPConnection *connection, bool close)
{
    disconnect(connection, nullptr, this, nullptr);
    const auto entry = m_incomingRequests.find(connection);
    if (entry != m_incomingRequests.end()) {
        delete entry->second.headerDeadline;
        m_incomingRequests.erase(entry);
    }
    if (close)
        connection->abort();
}

void HTTPServer::receiveIncomingConnections()
{
    for (int accepted = 0; accepted < acceptBatch; ++accepted) {
        const int descriptor = ::accept(m_listeningDescriptor, nullptr, nullptr);
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
        // Heads and bodies go out as separate sends; waiting to coalesce them only adds latency.
        const int noDelay = 1;
        ::setsockopt(descriptor, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);

        auto *connection = new HTTPConnection(descriptor, m_options.stallLimit, this);
        connect(connection, &HTTPConnection::closed, connection, &QObject::deleteLater);
        connect(connection, &HTTPConnection::dataReceived, this,
                [this, connection](const QByteArray &bytes) { receiveIncomingData(connection, bytes); });
        connect(connection, &HTTPConnection::endOfStream, this,
                [this, connection] { stopReceivingForConnection(connection, true); });

        auto *headerDeadline = new QTimer(connection);
        headerDeadline->setSingleShot(true);
        connect(headerDeadline, &QTimer::timeout, this,
                [this, connection] { stopReceivingForConnection(connection, true); });
        headerDeadline->start(m_options.headerTimeLimit);

        m_incomingRequests.emplace(connection, IncomingRequest{HTTPRequest(), headerDeadline});
    }
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

    std::unique_ptr<HTTPResponseHandler> created =
        HTTPResponseHandler::handlerForRequest(std::move(request), connection, this);
    HTTPResponseHandler *handler = created.get();
    m_responseHandlers.emplace(handler, std::move(created));
    try {
        handler->startResponse();
    } catch (const std::exception &) {
        // Endpoints answer their own failures; anything else ends this connection, never the server.
        closeHandler(handler);
    }
}
