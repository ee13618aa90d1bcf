// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QString>

// What handsets are doing, for whoever shows it: the lists they were sent and the songs on their way, and what they
// were refused. The endpoints emit these on the thread of the event loop.
class EndpointActivity : public QObject
{
    Q_OBJECT

public:
    // Why a song was not sent.
    enum class Refusal {
        NotListed, // no track with that ID in the latest song list
        NoFile,    // listed, but its file cannot be found, or is empty
    };
    Q_ENUM(Refusal)

signals:
    void songListSent(const QString &peer, qsizetype songs, qint64 msecs);
    // `reason` is the reason the handset was given.
    void songListFailed(const QString &peer, const QString &reason);
    void downloadStarted(quint64 id, const QString &peer, const QString &fileName, qint64 totalBytes);
    // A few times a second at most, and once more with the final figure right before downloadFinished().
    void downloadProgress(quint64 id, qint64 sentBytes);
    // `complete` is false when the connection ended before the whole file had gone out.
    void downloadFinished(quint64 id, bool complete);
    // `song` is the track ID asked for, or the path of its file.
    void downloadRefused(const QString &peer, const QString &song, EndpointActivity::Refusal why);
};
