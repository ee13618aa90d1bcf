#pragma once

#include <QObject>
#include <QString>

// What handsets are doing, for whoever shows it: the lists they were sent and the songs on their way. The endpoints
// emit these on the thread of the event loop.
class EndpointActivity : public QObject
{
    Q_OBJECT

signals:
    void songListSent(const QString &peer, qsizetype songs, qint64 msecs);
    void downloadStarted(quint64 id, const QString &peer, const QString &fileName, qint64 totalBytes);
    // A few times a second at most, and once more with the final figure right before downloadFinished().
    void downloadProgress(quint64 id, qint64 sentBytes);
    // `complete` is false when the connection ended before the whole file had gone out.
    void downloadFinished(quint64 id, bool complete);
};
