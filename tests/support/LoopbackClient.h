#pragma once

// A plain blocking-connect, non-blocking-read TCP client for tests that talk to a server running in the same
// event loop: while it waits for bytes it keeps the event loop turning, so the server can answer.

#include <QByteArray>
#include <QCoreApplication>
#include <QDeadlineTimer>

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

class LoopbackClient
{
public:
    explicit LoopbackClient(quint16 port, int receiveBufferBytes = 0)
    {
        m_descriptor = ::socket(AF_INET, SOCK_STREAM, 0);
        if (receiveBufferBytes > 0)
            ::setsockopt(m_descriptor, SOL_SOCKET, SO_RCVBUF, &receiveBufferBytes, sizeof receiveBufferBytes);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        m_connected = ::connect(m_descriptor, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
        ::fcntl(m_descriptor, F_SETFL, ::fcntl(m_descriptor, F_GETFL) | O_NONBLOCK);
    }
    ~LoopbackClient() { close(); }
    LoopbackClient(const LoopbackClient &) = delete;
    LoopbackClient &operator=(const LoopbackClient &) = delete;

    bool isConnected() const { return m_connected; }

    bool send(const QByteArray &bytes)
    {
        qsizetype sent = 0;
        const QDeadlineTimer deadline(5000);
        while (sent < bytes.size() && !deadline.hasExpired()) {
            const ssize_t n = ::send(m_descriptor, bytes.constData() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (n > 0)
                sent += n;
            else if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
                return false;
            else
                QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        }
        return sent == bytes.size();
    }

    void endSending() { ::shutdown(m_descriptor, SHUT_WR); }
    void close()
    {
        if (m_descriptor >= 0)
            ::close(m_descriptor);
        m_descriptor = -1;
    }
    // Closes with a reset instead of an orderly end.
    void reset()
    {
        const linger abortive{1, 0};
        ::setsockopt(m_descriptor, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
        close();
    }

    // Reads until the server ends the stream (true), or until `limit` bytes have arrived or the time is up.
    bool readToEnd(int milliseconds = 10000, qint64 limit = -1)
    {
        const QDeadlineTimer deadline(milliseconds);
        char buffer[64 * 1024];
        while (!deadline.hasExpired()) {
            const ssize_t n = ::recv(m_descriptor, buffer, sizeof buffer, 0);
            if (n > 0) {
                m_received.append(buffer, n);
                if (limit >= 0 && m_received.size() >= limit)
                    return false;
                continue;
            }
            if (n == 0)
                return true;
            if (errno != EAGAIN && errno != EWOULDBLOCK) {
                m_reset = errno == ECONNRESET;
                return true;
            }
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            pollfd readable{m_descriptor, POLLIN, 0};
            ::poll(&readable, 1, 1);
        }
        return false;
    }

    const QByteArray &received() const { return m_received; }
    bool wasReset() const { return m_reset; }

    // Head and body of what was received, split at the first empty line.
    QByteArray head() const { return m_received.left(m_received.indexOf("\r\n\r\n") + 4); }
    QByteArray body() const
    {
        const qsizetype end = m_received.indexOf("\r\n\r\n");
        return end < 0 ? QByteArray() : m_received.mid(end + 4);
    }

private:
    int m_descriptor = -1;
    bool m_connected = false;
    bool m_reset = false;
    QByteArray m_received;
};

// Whether something accepts connections on the loopback port.
inline bool acceptsConnections(quint16 port)
{
    return LoopbackClient(port).isConnected();
}

// One whole exchange: sends the request, ends sending when asked, reads the answer to its end.
inline QByteArray fetch(quint16 port, const QByteArray &request, bool endSending = false)
{
    LoopbackClient client(port);
    client.send(request);
    if (endSending)
        client.endSending();
    client.readToEnd();
    return client.received();
}
