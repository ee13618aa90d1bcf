#include "MusicLibrary.h"

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

namespace {

// What a worker does, with its own copies of what it was given. Asked to stop while it reads, it stops before
// building.
void makeSongList(QPromise<SongList> &promise, const QString &homePath, const QString &deviceValue)
{
    // The event loop must never wait for a core while lists are made; the threads a list starts inherit this.
    lowerCurrentThreadPriority();
    SongList list;
    try {
        const PropertyList library = LibraryLocator::getSongDictionary(homePath);
        if (promise.isCanceled())
            return;
        QElapsedTimer timer;
        timer.start();
        list.body = SongListBuilder::buildPieces(library.root(), deviceValue, list.index);
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
    for (QFuture<SongList> &list : m_lists)
        list.cancel();
    for (QFuture<SongList> &list : m_lists)
        list.waitForFinished();
}

void MusicLibrary::requestSongList(const QString &deviceValue, const QObject *receiver,
                                   std::function<void(const SongList &)> done)
{
    const quint64 request = m_songById.nextRequest();
    const QFuture<SongList> list = QtConcurrent::run(&m_workers, makeSongList, m_homePath, deviceValue);
    m_lists.insert(request, list);

    // Both run on this thread once the list is done, in the order they are connected: the index is in place
    // before the first byte of the list goes out, and whether or not the receiver is still there to send it.
    auto *watcher = new QFutureWatcher<SongList>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, request, watcher] {
        m_lists.remove(request);
        watcher->deleteLater();
        if (watcher->future().resultCount() > 0)
            m_songById.offer(request, watcher->result());
    });
    connect(watcher, &QFutureWatcherBase::finished, receiver, [watcher, done = std::move(done)] {
        if (watcher->future().resultCount() > 0)
            done(watcher->result());
    });
    watcher->setFuture(list);
}

QString MusicLibrary::getSongLocation(const QString &trackId) const
{
    return m_songById.current().getSongLocation(trackId);
}
