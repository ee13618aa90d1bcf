// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QTimer>

#include <chrono>
#include <deque>
#include <memory>

class QFile;
class QSocketNotifier;

// One accepted TCP connection, over its non-blocking descriptor, driven by the event loop.
//
// Reading and writing are independent: a peer that has ended its sending side still receives everything that
// was queued for it. Writes never block; queued bytes, and then a file's bytes, go out as the socket drains,
// and the connection closes itself once all of it has been written (closeWhenWritten) or when writing fails
// or stalls, or the peer resets it. It announces the close with closed() and is then deleted by whoever owns it.
class HTTPConnection : public QObject
{
    Q_OBJECT

public:
    // Takes ownership of the descriptor.
    HTTPConnection(int descriptor, QHostAddress peerAddress, std::chrono::milliseconds stallLimit,
                   QObject *parent = nullptr);
    ~HTTPConnection() override;

    bool isOpen() const { return m_descriptor >= 0; }
    const QHostAddress &peerAddress() const { return m_peerAddress; }
    qint64 bytesSent() const { return m_bytesSent; }

    // Queues bytes to send after everything queued so far.
    void write(QByteArray bytes);
    // Queues the file's next `length` bytes after everything queued so far; nothing can be queued after it. A file
    // that ends early or cannot be read cuts the connection, so the peer never takes a short file for a whole one.
    void sendFile(std::unique_ptr<QFile> file, qint64 length);
    // Closes once everything queued has been written.
    void closeWhenWritten();
    // Closes now, dropping what was not written yet.
    void abort();

    qint64 bytesQueued() const;
    // What of the file given to sendFile() has not gone out: 0 once all of it has.
    qint64 fileBytesRemaining() const { return m_fileRemaining; }

signals:
    void dataReceived(const QByteArray &bytes);
    // The peer has ended its sending side; it may still read.
    void endOfStream();
    void closed();

private:
    void readAvailable();
    void writeQueued();
    bool writeBuffers(qint64 &budget);
    bool writeFile(qint64 &budget);
    void updateWriteInterest();
    void finishIfDone();
    void lingerThenClose();
    void closeDescriptor();

    int m_descriptor;
    const QHostAddress m_peerAddress;
    qint64 m_bytesSent = 0;
    QSocketNotifier *m_readNotifier;
    QSocketNotifier *m_writeNotifier;
    QTimer m_stallTimer;
    bool m_peerEnded = false;
    bool m_closeWhenWritten = false;
    bool m_lingering = false;

    std::deque<QByteArray> m_buffers;
    qsizetype m_bufferOffset = 0;
    std::unique_ptr<QFile> m_file;
    qint64 m_fileRemaining = 0;
};
