// SPDX-License-Identifier: GPL-3.0-or-later
#include "LibraryStatusReader.h"

#include "LibrarySurvey.h"
#include "ThreadPriority.h"

#include <QtConcurrent>

LibraryStatusReader::LibraryStatusReader(QString homePath, std::function<QString()> userMusicFolder,
                                         QObject *parent)
    : QObject(parent)
    , m_homePath(std::move(homePath))
    , m_userMusicFolder(std::move(userMusicFolder))
{
    connect(&m_read, &QFutureWatcherBase::finished, this, &LibraryStatusReader::finished);
}

LibraryStatusReader::~LibraryStatusReader()
{
    m_stop->store(true, std::memory_order_relaxed);
}

void LibraryStatusReader::refresh()
{
    start([homePath = m_homePath, musicFolder = m_userMusicFolder()](const LibraryStatus &previous,
                                                                      const std::atomic<bool> *stop) {
        return LibrarySurvey::read(homePath, musicFolder, previous, stop);
    });
}

void LibraryStatusReader::songListReading()
{
    // Two reads of one library at once would each take twice as long, and the handset is waiting for the list.
    if (m_read.isRunning())
        m_stop->store(true, std::memory_order_relaxed);
}

void LibraryStatusReader::songListMade(const SongList &list)
{
    start([homePath = m_homePath, musicFolder = m_userMusicFolder(), list](const LibraryStatus &previous,
                                                                            const std::atomic<bool> *stop) {
        return LibrarySurvey::fromList(list, homePath, musicFolder, previous, stop);
    });
}

void LibraryStatusReader::start(Read read)
{
    if (m_read.isRunning()) {
        // What is being read no longer says anything new: read again once it has stopped.
        m_next = std::move(read);
        m_stop->store(true, std::memory_order_relaxed);
        return;
    }
    m_stop = std::make_shared<std::atomic<bool>>(false);
    m_read.setFuture(QtConcurrent::run([read = std::move(read), previous = m_status, stop = m_stop] {
        // As for song lists: the event loop must never wait for a core while a library is read.
        lowerCurrentThreadPriority();
        return read(previous, stop.get());
    }));
}

void LibraryStatusReader::finished()
{
    if (m_next) {
        start(std::exchange(m_next, {}));
        return;
    }
    if (m_stop->load(std::memory_order_relaxed) || m_read.future().resultCount() == 0)
        return;
    m_status = m_read.result();
    emit statusRead(m_status);
}
