// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "LibraryStatus.h"
#include "SongList.h"

#include <QFutureWatcher>
#include <QObject>

#include <atomic>
#include <functional>
#include <memory>

// Keeps what the window says about the library true, reading it on a worker: when asked, and from each song list
// as it is made, which says as much without a second read. It never competes with a list: a list that begins to read
// stops its read, and that list's outcome is shown instead.
class LibraryStatusReader : public QObject
{
    Q_OBJECT

public:
    LibraryStatusReader(QString homePath, std::function<QString()> userMusicFolder, QObject *parent = nullptr);
    // What is left of a read stops soon; its result is dropped.
    ~LibraryStatusReader() override;

    const LibraryStatus &status() const { return m_status; }

signals:
    void statusRead(const LibraryStatus &status);

public slots:
    // Reads the library the next list will read.
    void refresh();
    void songListReading();
    void songListMade(const SongList &list);

private:
    using Read = std::function<LibraryStatus(const LibraryStatus &previous, const std::atomic<bool> *stop)>;
    void start(Read read);
    void finished();

    const QString m_homePath;
    const std::function<QString()> m_userMusicFolder;
    QFutureWatcher<LibraryStatus> m_read;
    std::shared_ptr<std::atomic<bool>> m_stop = std::make_shared<std::atomic<bool>>(false);
    Read m_next; // wanted once the read under way has stopped
    LibraryStatus m_status;
};
