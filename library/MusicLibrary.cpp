// SPDX-License-Identifier: GPL-3.0-or-later
#include "MusicLibrary.h"

#include "CopiedLibrary.h"
#include "HandOver.h"
#include "LibraryError.h"
#include "LibraryLocator.h"
#include "LibraryLogging.h"
#include "SongListBuilder.h"
#include "ThreadPriority.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QPromise>
#include <QThreadPool>

#include <atomic>

// A list on its way. Only one still waiting for its worker may answer later requests as well: one that has begun
// may have read the library before they came. Once every client of a waiting list has gone, the list is dropped
// and never read; the worker and the event loop each claim the waiting list, and whichever is first decides.
// `request` (the latest request it answers, for the index rule) and `clients` belong to the event loop.
struct MusicLibrary::ListState
{
    enum Phase { Waiting, Begun, Dropped };

    bool claim(Phase phase)
    {
        Phase waiting = Waiting;
        return m_phase.compare_exchange_strong(waiting, phase);
    }
    bool isWaiting() const { return m_phase == Waiting; }

    quint64 request = 0;
    int clients = 0;

private:
    std::atomic<Phase> m_phase = Waiting;
};

namespace {

// Where a job passes from the thread that makes it to the worker that runs it.
char jobHandOver;

// What a worker does, with its own copies of what it was given. Once `stop` turns true it gives up reading, and
// asked to stop after reading, it does not build.
void makeSongList(QPromise<SongList> &promise, const QString &homePath, const QString &deviceValue,
                  const std::atomic<bool> &stop)
{
    // The event loop must never wait for a core while lists are made; the threads a list starts inherit this.
    lowerCurrentThreadPriority();
    SongList list;
    // Taken before the read: a file replaced meanwhile then looks changed next time, never the other way round.
    const QString path = LibraryLocator::libraryPath(homePath);
    const QFileInfo file(path);
    list.librarySize = file.size();
    list.libraryModified = file.lastModified();
    try {
        PropertyList library = LibraryLocator::getSongDictionary(homePath, &stop);
        if (promise.isCanceled())
            return;
        QElapsedTimer timer;
        timer.start();
        list.musicFolder = library.root().value(QLatin1StringView("Music Folder")).toString();
        list.trackCount = library.root().value(QLatin1StringView("Tracks")).count();
        list.body = SongListBuilder::buildPieces(std::move(library), deviceValue, list.index);
        qCInfo(lcLibrary, "listed %lld songs, %lld bytes, in %lld ms", qlonglong(list.index.size()),
               qlonglong(list.bodySize()), qlonglong(timer.elapsed()));
    } catch (const LibraryError &error) {
        list = SongList();
        list.failure = error.reason();
        qCInfo(lcLibrary, "no song list: %s", qUtf8Printable(error.reason()));
    } catch (const std::exception &error) {
        list = SongList();
        qCInfo(lcLibrary, "no song list, and no answer: %s", error.what());
    }
    list.libraryPath = path;
    promise.addResult(std::move(list));
}

} // namespace

MusicLibrary::MusicLibrary(QString homePath, QThreadPool &workers, QObject *parent)
    : QObject(parent)
    , m_homePath(std::move(homePath))
    , m_workers(workers)
{
}

MusicLibrary::~MusicLibrary()
{
    m_quitting->store(true, std::memory_order_relaxed);
    const QList<QFutureWatcherBase *> lists = findChildren<QFutureWatcherBase *>(Qt::FindDirectChildrenOnly);
    for (QFutureWatcherBase *list : lists)
        list->cancel();
    for (QFutureWatcherBase *list : lists)
        list->waitForFinished();
}

void MusicLibrary::requestSongList(const QString &deviceValue, const QObject *receiver,
                                   std::function<void(const SongList &)> done)
{
    const quint64 request = m_songById.nextRequest();
    // Only the playlist the device value asks for decides what a list holds.
    const QString playlist = SongListBuilder::wantedPlaylistName(deviceValue);
    List &latest = m_latestLists[playlist];
    if (!latest.watcher || !latest.state->isWaiting())
        latest = startSongList(playlist, deviceValue);
    latest.state->request = request;
    ++latest.state->clients;
    // With the watcher as context: once the list is done, whoever leaves changes nothing.
    connect(receiver, &QObject::destroyed, latest.watcher, [state = latest.state] {
        if (--state->clients == 0)
            state->claim(ListState::Dropped);
    });
    connect(latest.watcher, &QFutureWatcherBase::finished, receiver,
            [watcher = latest.watcher, done = std::move(done)] {
                if (watcher->future().resultCount() > 0)
                    done(watcher->result());
            });
}

MusicLibrary::List MusicLibrary::startSongList(const QString &playlist, const QString &deviceValue)
{
    const auto state = std::make_shared<ListState>();
    auto *watcher = new QFutureWatcher<SongList>(this);
    // Connected before any receiver, so it runs first: the index is in place before the first byte of the list goes
    // out, and whether or not a receiver is still there to send it.
    connect(watcher, &QFutureWatcherBase::finished, this, [this, playlist, state, watcher] {
        HandOver::take(state.get());
        if (m_latestLists.value(playlist).watcher == watcher)
            m_latestLists.remove(playlist);
        watcher->deleteLater();
        if (watcher->future().resultCount() > 0) {
            m_songById.offer(state->request, watcher->result());
            emit songListMade(watcher->result());
        }
    });
    // The worker says it has begun to read through the future's progress, which Qt carries to this thread.
    connect(watcher, &QFutureWatcherBase::progressValueChanged, this, &MusicLibrary::songListReading);
    const auto promise = std::make_shared<QPromise<SongList>>();
    watcher->setFuture(promise->future());
    promise->start();
    promise->setProgressRange(0, 1);
    // The job, and whatever it holds, reaches its thread through the pool's own lock, which the race detector cannot
    // see: the job is made whole before it is handed over, and taken over before it is read.
    std::function<void()> job = [homePath = m_homePath, deviceValue, state, promise, quitting = m_quitting] {
        HandOver::take(&jobHandOver);
        if (state->claim(ListState::Begun) && !promise->isCanceled()) {
            promise->setProgressValue(1);
            makeSongList(*promise, homePath, deviceValue, *quitting);
        }
        HandOver::give(state.get());
        promise->finish();
    };
    HandOver::give(&jobHandOver);
    m_workers.start(std::move(job));
    return {state, watcher};
}

QString MusicLibrary::getSongLocation(const QString &trackId) const
{
    return m_songById.current().getSongLocation(trackId);
}

QStringList MusicLibrary::copiedSongPaths(const QString &location) const
{
    return CopiedLibrary::candidatePaths(location, m_songById.musicFolder(), m_songById.libraryPath(),
                                         m_userMusicFolder);
}
