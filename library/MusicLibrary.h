// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "LatestTrackIndex.h"
#include "SongList.h"

#include <QFutureWatcher>
#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <memory>

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
    // Lists still waiting their turn are never made; those being made stop reading, and it waits for them.
    ~MusicLibrary() override;

    // Makes the song list for the device value on a worker, or joins the list for the same playlist that is waiting
    // its turn: that one reads the library after this request too. Once it is done, on this thread: its index
    // replaces songById as LatestTrackIndex rules, and then `done` runs with it, unless `receiver` has been destroyed.
    // A list still waiting when the receivers of all its requests have been destroyed is never made.
    void requestSongList(const QString &deviceValue, const QObject *receiver,
                         std::function<void(const SongList &)> done);

    // Where the file of a track of the latest list lies (its Location text), or a null string.
    QString getSongLocation(const QString &trackId) const;
    // Where else the song at `location` of the latest list may lie, when the library was copied from another
    // computer: below the copy of its music folder next to the library file, then below `userMusicFolder`.
    QStringList copiedSongPaths(const QString &location) const;
    void setUserMusicFolder(const QString &folder) { m_userMusicFolder = folder; }

signals:
    // A list has begun to read the library; its songListMade follows.
    void songListReading();
    // Each list that has been made, or has failed, once its index has been offered; for whoever shows the library.
    void songListMade(const SongList &list);

private:
    struct ListState;
    struct List
    {
        std::shared_ptr<ListState> state;
        QFutureWatcher<SongList> *watcher = nullptr; // a child, until the list is done
    };

    List startSongList(const QString &playlist, const QString &deviceValue);

    const QString m_homePath;
    QThreadPool &m_workers;
    QString m_userMusicFolder;
    LatestTrackIndex m_songById;
    // The latest list of each playlist a device value asks for, until it is done.
    QHash<QString, List> m_latestLists;
    // Turns true when this object goes, so that lists still reading give up instead of holding up the quit.
    const std::shared_ptr<std::atomic<bool>> m_quitting = std::make_shared<std::atomic<bool>>(false);
};
