#include "MusicLibrary.h"

#include "CopiedLibrary.h"
#include "LibraryError.h"
#include "LibraryLocator.h"
#include "LibraryLogging.h"
#include "SongListBuilder.h"
#include "ThreadPriority.h"

#include <QElapsedTimer>
#include <QFutureWatcher>
#include <QPromise>
#include <QThreadPool>
#include <QtConcurrent>

#include <atomic>

// A list on its way: whether its worker has begun (one that has not can answer later requests as well), and the
// latest request it answers, for the index rule. The worker touches `started` alone.
struct MusicLibrary::ListState
{
    std::atomic<bool> started = false;
    quint64 request = 0;
};

namespace {

// What a worker does, with its own copies of what it was given. Asked to stop while it reads, it stops before
// building.
void makeSongList(QPromise<SongList> &promise, const QString &homePath, const QString &deviceValue)
{
    // The event loop must never wait for a core while lists are made; the threads a list starts inherit this.
    lowerCurrentThreadPriority();
    SongList list;
    try {
        PropertyList library = LibraryLocator::getSongDictionary(homePath);
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
    list.libraryPath = LibraryLocator::libraryPath(homePath);
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
    List &latest = m_latestLists[deviceValue];
    if (!latest.watcher || latest.state->started)
        latest = startSongList(deviceValue);
    latest.state->request = request;
    connect(latest.watcher, &QFutureWatcherBase::finished, receiver,
            [watcher = latest.watcher, done = std::move(done)] {
                if (watcher->future().resultCount() > 0)
                    done(watcher->result());
            });
}

MusicLibrary::List MusicLibrary::startSongList(const QString &deviceValue)
{
    const auto state = std::make_shared<ListState>();
    auto *watcher = new QFutureWatcher<SongList>(this);
    // Connected before any receiver, so it runs first: the index is in place before the first byte of the list goes
    // out, and whether or not a receiver is still there to send it.
    connect(watcher, &QFutureWatcherBase::finished, this, [this, deviceValue, state, watcher] {
        if (m_latestLists.value(deviceValue).watcher == watcher)
            m_latestLists.remove(deviceValue);
        watcher->deleteLater();
        if (watcher->future().resultCount() > 0) {
            m_songById.offer(state->request, watcher->result());
            emit songListMade(watcher->result());
        }
    });
    const auto work = [homePath = m_homePath, deviceValue, state](QPromise<SongList> &promise) {
        state->started = true;
        makeSongList(promise, homePath, deviceValue);
    };
    watcher->setFuture(QtConcurrent::run(&m_workers, work));
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
