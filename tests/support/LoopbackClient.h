// SPDX-License-Identifier: GPL-3.0-or-later
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
            if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK))
                return true; // ended, reset, or closed here
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            pollfd readable{m_descriptor, POLLIN, 0};
            ::poll(&readable, 1, 1);
        }
        return false;
    }

    const QByteArray &received() const { return m_received; }

    // Head and body of what was received, split at the first empty line.
    QByteArray head() const { return m_received.left(m_received.indexOf("\r\n\r\n") + 4); }
    QByteArray body() const { return m_received.mid(head().size()); }

private:
    int m_descriptor = -1;
    bool m_connected = false;
    QByteArray m_received;
};

// Whether something accepts connections on the loopback port.
inline bool acceptsConnections(quint16 port)
{
    return LoopbackClient(port).isConnected();
}

// One whole exchange: sends the request and reads the answer to its end.
inline QByteArray fetch(quint16 port, const QByteArray &request)
{
    LoopbackClient client(port);
    client.send(request);
    client.readToEnd();
    return client.received();
}

// What the endpoints answer in plain text, byte for byte; the head alone where the body is too large to spell out.
inline QByteArray plainTextHead(qint64 contentLength, const QByteArray &status = "200 OK")
{
    return "HTTP/1.1 " + status + "\r\nContent-Type: text/plain\r\nConnection: close\r\nContent-Length: "
           + QByteArray::number(contentLength) + "\r\n\r\n";
}

inline QByteArray plainTextResponse(const QByteArray &body, const QByteArray &status = "200 OK")
{
    return plainTextHead(body.size(), status) + body;
}

inline const QByteArray helloRequest = "GET /hello HTTP/1.1\r\n\r\n";
inline const QByteArray helloResponse = plainTextResponse("Hello!");

// Bytes in which a piece out of place, repeated or missing shows: the pattern's period, 251, is prime, so no
// buffer or page size lines up with it.
inline QByteArray patternBytes(qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = char(i % 251);
    return bytes;
}
