// SPDX-License-Identifier: GPL-3.0-or-later
#include "MusicFolderScan.h"

#include "FolderLibrary.h"
#include "FolderWalk.h"
#include "M3uPlaylist.h"
#include "PlayableTrack.h"
#include "ThreadPriority.h"

#include <QDir>
#include <QHash>
#include <QSaveFile>
#include <QStandardPaths>
#include <QtConcurrent>

#include <atomic>
#include <cerrno>
#include <unistd.h>

namespace {

// Which files the handset plays: the song list's own rule, on the Location each is written with.
bool playable(const FolderWalk::File &file)
{
    const QByteArray location = FolderLibrary::fileUrl(file.path);
    return PlayableTrack::isPlayable(false, std::string_view(location.constData(), size_t(location.size())));
}

bool write(const QString &path, const QByteArray &bytes, QString *error)
{
    QDir().mkpath(QFileInfo(path).path());
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit())
        return true;
    *error = QStringLiteral("The library cannot be written to %1: %2.").arg(path, file.errorString());
    return false;
}

} // namespace

QString MusicFolderScan::libraryPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + QStringLiteral("/Music Folder.xml");
}

MusicFolderScan::Report MusicFolderScan::run(const QString &folder, const QString &libraryPath,
                                             const Progress &progress, QThreadPool *pool)
{
    lowerCurrentThreadPriority();
    Report report;
    report.folder = folder;
    FolderWalk::Result walk = FolderWalk::walk(folder);
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

    const std::optional<FolderLibrary> previous = FolderLibrary::read(libraryPath);
    QHash<QByteArray, const FolderLibrary::Track *> known;
    int lastId = 999; // iTunes numbers its first tracks from 1000 or so; nothing depends on it
    if (previous) {
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
    for (FolderWalk::File &file : walk.files) {
        if (!playable(file)) {
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
            track.dateAdded = QDateTime::currentDateTimeUtc();
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

    QHash<QByteArray, int> idOfPath;
    idOfPath.reserve(library.tracks.size());
    for (const FolderLibrary::Track &track : std::as_const(library.tracks)) {
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

    if (previous && previous->sameFilesAs(library) && QFileInfo::exists(libraryPath))
        return report;
    report.written = write(libraryPath, library.toXml(), &report.error);
    return report;
}
