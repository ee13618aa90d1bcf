// SPDX-License-Identifier: GPL-3.0-or-later
#include "MusicFolderScan.h"

#include "FolderLibrary.h"
#include "FolderWalk.h"
#include "M3uPlaylist.h"
#include "PlayableTrack.h"
#include "ThreadPriority.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QSaveFile>
#include <QStandardPaths>
#include <QThread>
#include <QtConcurrent>

#include <atomic>
#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Which files the handset plays: the song list's own rule, on the Location each is written with. Percent-encoding
// leaves dots, letters and digits as they are and turns nothing else into them, so the rule finds in the path's own
// bytes just what it would find in the Location; asked of every file on every scan, it is asked without encoding.
// `location` is scratch space, kept from one file to the next.
bool playable(const QByteArray &path, QByteArray &location)
{
    location.truncate(0); // keeps its capacity
    location.append("file://").append(path);
    return PlayableTrack::isPlayable(false, std::string_view(location.constData(), size_t(location.size())));
}

using LastLibrary = MusicFolderScan::LastLibrary;

LastLibrary::Stamp stampOf(const struct stat &st)
{
    return {quint64(st.st_dev), quint64(st.st_ino), qint64(st.st_size),
            qint64(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec};
}

std::optional<LastLibrary::Stamp> stampOf(const QString &path)
{
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return std::nullopt;
    return stampOf(st);
}

// The library the file at `path` holds: the one this process knows where the file is still as it left it.
std::shared_ptr<const LastLibrary> previousLibrary(const QString &path, std::shared_ptr<const LastLibrary> last)
{
    const std::optional<LastLibrary::Stamp> stamp = stampOf(path);
    if (!stamp)
        return nullptr;
    if (last && last->path == path && last->stamp == *stamp)
        return last;
    // Stamped before it is read: a change while reading makes the stamp stale, and the next scan reads again.
    std::optional<FolderLibrary> library = FolderLibrary::read(path);
    if (!library)
        return nullptr;
    return std::make_shared<const LastLibrary>(LastLibrary{path, *stamp, std::move(*library)});
}

// Writes the library, and says what the file then is.
std::shared_ptr<const LastLibrary> write(const QString &path, FolderLibrary library, QString *error)
{
    QDir().mkpath(QFileInfo(path).path());
    QSaveFile file(path);
    struct stat st {};
    // The stamp of the file as written, taken before the rename that makes it the library: whatever changes the
    // library after that shows as a change.
    const QByteArray bytes = library.toXml();
    if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.flush()
        && ::fstat(file.handle(), &st) == 0 && file.commit())
        return std::make_shared<const LastLibrary>(LastLibrary{path, stampOf(st), std::move(library)});
    *error = QStringLiteral("The library cannot be written to %1: %2.").arg(path, file.errorString());
    return nullptr;
}

} // namespace

QString MusicFolderScan::libraryPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + QStringLiteral("/Music Folder.xml");
}

MusicFolderScan::Report MusicFolderScan::run(const QString &folder, const QString &libraryPath,
                                             std::shared_ptr<const LastLibrary> last, const Progress &progress,
                                             QThreadPool *pool)
{
    lowerCurrentThreadPriority();
    Report report;
    report.folder = folder;
    FolderWalk::Result walk = FolderWalk::walk(folder, QThread::idealThreadCount());
    if (!walk.error.isEmpty()) {
        report.error = walk.error;
        return report;
    }
    report.nonUtf8Names = walk.nonUtf8Names;
    report.unreadable = walk.unreadable;
    report.linksNotFollowed = walk.linksNotFollowed;
    for (const QByteArray &path : std::as_const(walk.folders))
        report.folders.append(QString::fromUtf8(path));
    for (const QList<FolderWalk::File> *files : {&walk.files, &walk.playlists})
        for (const FolderWalk::File &file : *files)
            report.newestModified = std::max(report.newestModified, file.modified);

    const std::shared_ptr<const LastLibrary> lastLibrary = previousLibrary(libraryPath, std::move(last));
    const FolderLibrary *previous = lastLibrary ? &lastLibrary->library : nullptr;
    // A drive that is not mounted leaves its mount point an empty folder. Written as it looks, the library would
    // lose every track's ID, which handsets hold on to; a folder emptied on purpose is rare by comparison.
    if (walk.files.isEmpty() && walk.playlists.isEmpty() && previous && !previous->tracks.isEmpty()) {
        report.error = QStringLiteral("The folder %1 is empty now. If its music is on a drive, connect it.").arg(folder);
        report.library = lastLibrary;
        return report;
    }
    QHash<QByteArray, const FolderLibrary::Track *> known;
    int lastId = 999; // iTunes numbers its first tracks from 1000 or so; nothing depends on it
    if (previous) {
        known.reserve(previous->tracks.size());
        for (const FolderLibrary::Track &track : previous->tracks) {
            known.insert(track.path, &track);
            lastId = std::max(lastId, track.trackId);
        }
    }

    FolderLibrary library;
    library.folder = walk.root;
    library.persistentId = previous && !previous->persistentId.isEmpty() ? previous->persistentId
                                                                         : FolderLibrary::newPersistentId();
    QList<qsizetype> toRead;
    QByteArray location;
    library.tracks.reserve(walk.files.size());
    for (FolderWalk::File &file : walk.files) {
        if (!playable(file.path, location)) {
            ++report.otherFiles;
            continue;
        }
        FolderLibrary::Track track{std::move(file.path), file.size, file.modified, 0, {}, {}, {}};
        if (const FolderLibrary::Track *before = known.value(track.path)) {
            track.trackId = before->trackId;
            track.persistentId = before->persistentId;
            track.dateAdded = before->dateAdded;
            if (before->size == track.size && before->modified == track.modified)
                track.tags = before->tags;
            else
                toRead.append(library.tracks.size());
        } else {
            track.trackId = ++lastId;
            track.persistentId = FolderLibrary::newPersistentId();
            // In whole seconds, as the file keeps it.
            track.dateAdded = QDateTime::fromSecsSinceEpoch(QDateTime::currentSecsSinceEpoch(), Qt::UTC);
            toRead.append(library.tracks.size());
        }
        library.tracks.append(std::move(track));
    }

    std::atomic<int> done = 0;
    const int total = int(toRead.size());
    QtConcurrent::blockingMap(pool, toRead, [&](qsizetype i) {
        lowerCurrentThreadPriority();
        FolderLibrary::Track &track = library.tracks[i];
        track.tags = TrackTags::read(track.path);
        const int count = ++done;
        if (progress && (count % 64 == 0 || count == total))
            progress(count, total);
    });
    report.tagsRead = total;
    // TagLib says no alike for a file that is not audio, one we may not read and one gone since the walk; only the
    // first can be served.
    library.tracks.removeIf([&report](const FolderLibrary::Track &track) {
        if (track.tags.readable || ::access(track.path.constData(), R_OK) == 0)
            return false;
        if (errno != ENOENT)
            ++report.unreadable;
        return true;
    });
    // A folder gone while it was scanned (a drive unplugged) would look like a folder emptied: the library
    // written before stands instead, as when it is gone at the start.
    if (struct stat st {}; ::stat(walk.root.constData(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        Report gone;
        gone.folder = folder;
        gone.error = QStringLiteral("The folder %1 went away while it was scanned.").arg(folder);
        gone.library = lastLibrary;
        return gone;
    }

    QHash<QByteArray, int> idOfPath;
    if (!walk.playlists.isEmpty())
        idOfPath.reserve(library.tracks.size());
    for (const FolderLibrary::Track &track : std::as_const(library.tracks)) {
        if (!walk.playlists.isEmpty())
            idOfPath.insert(track.path, track.trackId);
        if (!track.tags.readable)
            ++report.untagged;
    }
    for (const FolderWalk::File &file : std::as_const(walk.playlists)) {
        report.playlistFiles.append(QString::fromUtf8(file.path));
        FolderLibrary::Playlist playlist{M3uPlaylist::name(file.path), {}};
        for (const QByteArray &entry : M3uPlaylist::entries(file.path, walk.root)) {
            if (const int id = idOfPath.value(entry))
                playlist.trackIds.append(id);
        }
        library.playlists.append(std::move(playlist));
    }
    report.songs = int(library.tracks.size());
    report.playlists = int(library.playlists.size());

    report.library = lastLibrary;
    if (previous && previous->sameFilesAs(library))
        return report;
    if (std::shared_ptr<const LastLibrary> written = write(libraryPath, std::move(library), &report.error)) {
        report.written = true;
        report.library = std::move(written);
    }
    return report;
}
