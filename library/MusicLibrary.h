#pragma once

#include "LatestTrackIndex.h"
#include "SongList.h"

#include <QFuture>
#include <QHash>
#include <QObject>
#include <QString>

#include <functional>

class QThreadPool;

// The music library as the endpoints see it: song lists, each read, parsed and built on a worker thread, and the
// track index of the latest one (songById), through which downloads find their files.
//
// It lives on the thread of the event loop, which alone calls it; the index changes there and nowhere else, when a
// finished list comes back. A worker owns what it reads and touches nothing of this object.
class MusicLibrary : public QObject
{
    Q_OBJECT

public:
    // Looks for the library from the home folder `homePath`. Lists are made on `workers`, which must outlive this
    // object: each list holds a whole library in memory, so the pool's thread count bounds how many are made at
    // once, and later ones wait their turn.
    MusicLibrary(QString homePath, QThreadPool &workers, QObject *parent = nullptr);
    // Lists still waiting their turn are never made; it waits for those being made.
    ~MusicLibrary() override;

    // Makes the song list for the device value on a worker. Once it is done, on this thread: its index replaces
    // songById as LatestTrackIndex rules, and then `done` runs with it, unless `receiver` has been destroyed.
    void requestSongList(const QString &deviceValue, const QObject *receiver,
                         std::function<void(const SongList &)> done);

    // Where the file of a track of the latest list lies (its Location text), or a null string.
    QString getSongLocation(const QString &trackId) const;

private:
    const QString m_homePath;
    QThreadPool &m_workers;
    LatestTrackIndex m_songById;
    // By request number, until each comes back.
    QHash<quint64, QFuture<SongList>> m_lists;
};
