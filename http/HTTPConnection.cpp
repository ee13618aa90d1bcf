// SPDX-License-Identifier: GPL-3.0-or-later
#include "HTTPConnection.h"

#include "HTTPLogging.h"
#include "SendFile.h"

#include <QFile>
#include <QSocketNotifier>

#include <cerrno>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Enough for any request header in one read, small enough not to hold the loop.
constexpr qsizetype readChunkBytes = 64 * 1024;

// How much one connection may write before the event loop turns again, so that a fast download does not keep
// other connections waiting.
constexpr qint64 writeBudgetBytes = 1024 * 1024;

// After the response has gone out, what the peer still sends is read and dropped for a moment before the
// descriptor closes: closing with unread input makes the kernel reset the connection, which can destroy the
// tail of the response before the peer has read it.
constexpr std::chrono::milliseconds lingerLimit{2000};

#ifndef MSG_NOSIGNAL
constexpr int MSG_NOSIGNAL = 0; // where it is missing, HTTPServer::start() ignores SIGPIPE
#endif

} // namespace

HTTPConnection::HTTPConnection(int descriptor, QHostAddress peerAddress, std::chrono::milliseconds stallLimit,
                               QObject *parent)
    : QObject(parent)
    , m_descriptor(descriptor)
    , m_peerAddress(std::move(peerAddress))
    , m_readNotifier(new QSocketNotifier(descriptor, QSocketNotifier::Read, this))
    , m_writeNotifier(new QSocketNotifier(descriptor, QSocketNotifier::Write, this))
{
    m_writeNotifier->setEnabled(false);
    connect(m_readNotifier, &QSocketNotifier::activated, this, &HTTPConnection::readAvailable);
    connect(m_writeNotifier, &QSocketNotifier::activated, this, &HTTPConnection::writeQueued);

    m_stallTimer.setSingleShot(true);
    m_stallTimer.setInterval(stallLimit);
    connect(&m_stallTimer, &QTimer::timeout, this, [this] {
        if (!m_lingering) {
            qCInfo(lcHttp, "%s timed out: took no bytes for %lld ms", qUtf8Printable(m_peerAddress.toString()),
                   qlonglong(m_stallTimer.intervalAsDuration().count()));
        }
        abort();
    });
}

HTTPConnection::~HTTPConnection()
{
    if (m_descriptor >= 0) {
        m_readNotifier->setEnabled(false);
        m_writeNotifier->setEnabled(false);
        ::close(m_descriptor);
    }
}

void HTTPConnection::write(QByteArray bytes)
{
    Q_ASSERT(!m_file);
    if (!isOpen() || bytes.isEmpty())
        return;
    m_buffers.push_back(std::move(bytes));
    writeQueued();
}

void HTTPConnection::sendFile(std::unique_ptr<QFile> file, qint64 length)
{
    if (!isOpen())
        return;
    m_file = std::move(file);
    m_fileRemaining = length;
    writeQueued();
}

void HTTPConnection::closeWhenWritten()
{
    m_closeWhenWritten = true;
    finishIfDone();
}

void HTTPConnection::abort()
{
    if (!isOpen())
        return;
    m_buffers.clear();
    m_file.reset();
    closeDescriptor();
}

qint64 HTTPConnection::bytesQueued() const
{
    qint64 total = m_fileRemaining - m_bufferOffset;
    for (const QByteArray &buffer : m_buffers)
        total += buffer.size();
    return total;
}

void HTTPConnection::readAvailable()
{
    QByteArray bytes(readChunkBytes, Qt::Uninitialized);
    const ssize_t count = ::read(m_descriptor, bytes.data(), bytes.size());
    if (count > 0) {
        bytes.truncate(count);
        emit dataReceived(bytes);
        return;
    }
    if (count < 0) {
        // A reset or another failure: the peer is gone, and nothing queued could reach it.
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
            abort();
        return;
    }

    // The end of the peer's stream: nothing more will come in, but what is queued still goes out.
    m_readNotifier->setEnabled(false);
    m_peerEnded = true;
    if (m_closeWhenWritten && bytesQueued() == 0) {
        closeDescriptor();
        return;
    }
    emit endOfStream();
}

void HTTPConnection::writeQueued()
{
    if (!isOpen())
        return;
    qint64 budget = writeBudgetBytes;
    const qint64 before = bytesQueued();
    const bool ok = writeBuffers(budget) && writeFile(budget);
    if (!ok) {
        abort();
        return;
    }
    if (bytesQueued() != before)
        m_stallTimer.start(); // progress: the stall limit counts from here
    updateWriteInterest();
    finishIfDone();
}

bool HTTPConnection::writeBuffers(qint64 &budget)
{
    while (!m_buffers.empty() && budget > 0) {
        const QByteArray &buffer = m_buffers.front();
        const qint64 wanted = std::min<qint64>(buffer.size() - m_bufferOffset, budget);
        const ssize_t written = ::send(m_descriptor, buffer.constData() + m_bufferOffset, wanted, MSG_NOSIGNAL);
        if (written < 0)
            return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
        budget -= written;
        m_bytesSent += written;
        m_bufferOffset += written;
        if (m_bufferOffset == buffer.size()) {
            m_buffers.pop_front();
            m_bufferOffset = 0;
        } else if (written < wanted) {
            return true; // the socket is full
        }
    }
    return true;
}

bool HTTPConnection::writeFile(qint64 &budget)
{
    if (!m_buffers.empty() || !m_file)
        return true;
    while (m_fileRemaining > 0 && budget > 0) {
        const qint64 wanted = std::min(m_fileRemaining, budget);
        const ssize_t written = sendFileBytes(m_descriptor, m_file->handle(), size_t(wanted));
        if (written < 0)
            return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
        if (written == 0)
            return false; // the file is shorter than announced
        budget -= written;
        m_bytesSent += written;
        m_fileRemaining -= written;
        if (written < wanted)
            return true;
    }
    if (m_fileRemaining == 0)
        m_file.reset();
    return true;
}

void HTTPConnection::updateWriteInterest()
{
    const bool pending = bytesQueued() > 0;
    m_writeNotifier->setEnabled(isOpen() && pending);
    if (!pending && !m_closeWhenWritten)
        m_stallTimer.stop();
}

void HTTPConnection::finishIfDone()
{
    if (!isOpen() || !m_closeWhenWritten || bytesQueued() > 0)
        return;
    if (m_peerEnded)
        closeDescriptor();
    else
        lingerThenClose();
}

void HTTPConnection::lingerThenClose()
{
    if (m_lingering)
        return;
    m_lingering = true;
    ::shutdown(m_descriptor, SHUT_WR);
    disconnect(this, &HTTPConnection::dataReceived, nullptr, nullptr);
    m_stallTimer.setInterval(lingerLimit);
    m_stallTimer.start();
}

void HTTPConnection::closeDescriptor()
{
    m_stallTimer.stop();
    m_readNotifier->setEnabled(false);
    m_writeNotifier->setEnabled(false);
    ::close(m_descriptor);
    m_descriptor = -1;
    emit closed();
}
