// SPDX-License-Identifier: GPL-3.0-or-later
#include "LibrarySurvey.h"

#include "CopiedLibrary.h"
#include "LibraryLocator.h"
#include "LibraryLogging.h"
#include "PropertyList.h"
#include "SongListBuilder.h"
#include "SongLocation.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

#include <QtConcurrent>

#include <span>

#include <sys/stat.h>

namespace {

// How many songs are checked between two looks at whether to stop.
constexpr size_t stopCheckInterval = 4096;

bool isSongFileAt(const QString &path)
{
    struct stat status = {};
    return ::stat(QFile::encodeName(path).constData(), &status) == 0 && S_ISREG(status.st_mode) && status.st_size > 0;
}

// The same with every Unicode normal form of `path` tried, as the download opens a song.
bool inAnyForm(const QString &path, bool (*test)(const QString &))
{
    if (test(path))
        return true;
    for (const auto form : {QString::NormalizationForm_C, QString::NormalizationForm_D}) {
        const QString normalized = path.normalized(form);
        if (normalized != path && test(normalized))
            return true;
    }
    return false;
}

bool isFolder(const QString &path)
{
    return QFileInfo(path).isDir();
}

// Looks for songs' files as the download does. A library's songs share a few thousand album folders; when most
// files are missing, asking once per folder whether it (or its copy) exists, instead of several times per song, is
// what keeps 100,000 songs well under a second.
class SongFinder
{
public:
    SongFinder(const QString &musicFolder, const QString &libraryPath, const QString &userMusicFolder)
        : m_musicFolder(musicFolder)
        , m_libraryPath(libraryPath)
        , m_userMusicFolder(userMusicFolder)
    {
    }

    bool isFound(QByteArrayView utf8Location)
    {
        const qsizetype slash = utf8Location.lastIndexOf('/');
        if (slash >= 0 && !mayHoldSongs(utf8Location.first(slash)))
            return false;
        const QString location = QString::fromUtf8(utf8Location);
        return std::ranges::any_of(paths(location), [](const QString &path) { return inAnyForm(path, isSongFileAt); });
    }

private:
    // Where the song at `location` may lie: where it says, then where a copied library's remap puts it.
    QStringList paths(const QString &location) const
    {
        QStringList paths = CopiedLibrary::candidatePaths(location, m_musicFolder, m_libraryPath, m_userMusicFolder);
        if (const std::optional<QString> path = SongLocation::filePath(location))
            paths.prepend(*path);
        return paths;
    }

    // Both the decoding and the remap map a Location's folder as a whole, so where a song named "x" in it would lie
    // says where every song of that folder would.
    bool mayHoldSongs(QByteArrayView utf8Folder)
    {
        // An album's songs follow one another in a library, so the folder asked about last is usually the one.
        if (m_askedBefore && utf8Folder == m_lastFolder)
            return m_lastFolderMayHoldSongs;
        m_askedBefore = true;
        m_lastFolder = utf8Folder.toByteArray();
        const auto known = m_folders.constFind(m_lastFolder);
        if (known != m_folders.cend())
            return m_lastFolderMayHoldSongs = *known;
        const QStringList probes = paths(QString::fromUtf8(m_lastFolder) + QStringLiteral("/x"));
        m_lastFolderMayHoldSongs = std::ranges::any_of(probes, [](const QString &probe) {
            return inAnyForm(probe.chopped(2), isFolder);
        });
        m_folders.insert(m_lastFolder, m_lastFolderMayHoldSongs);
        return m_lastFolderMayHoldSongs;
    }

    const QString &m_musicFolder;
    const QString &m_libraryPath;
    const QString &m_userMusicFolder;
    QHash<QByteArray, bool> m_folders;
    bool m_askedBefore = false;
    QByteArray m_lastFolder;
    bool m_lastFolderMayHoldSongs = false;
};

// The songs among `ids` whose files cannot be found here, after the copied-library remap.
qsizetype countMissing(const TrackIndex &songs, std::span<const qint32> ids, SongFinder finder,
                       const std::atomic<bool> *stop)
{
    qsizetype missing = 0;
    for (size_t i = 0; i < ids.size(); ++i) {
        if (i % stopCheckInterval == 0 && stop && stop->load(std::memory_order_relaxed))
            break;
        if (!finder.isFound(songs.location(ids[i])))
            ++missing;
    }
    return missing;
}

bool readFromTheSameFile(const LibraryStatus &previous, const LibraryStatus &status)
{
    return previous.state == LibraryStatus::State::Read && previous.path == status.path
        && previous.fileSize == status.fileSize && previous.fileModified == status.fileModified
        && previous.userMusicFolder == status.userMusicFolder;
}

// Fills in the songs of `status` from `songs`, looking for their files in two halves at once, the second on a
// worker of its own (or here, if none is free).
void countSongs(LibraryStatus &status, const TrackIndex &songs, const QString &musicFolder,
                const std::atomic<bool> *stop)
{
    QElapsedTimer timer;
    timer.start();
    status.state = LibraryStatus::State::Read;
    status.songs = songs.size();
    const QList<qint32> ids = songs.ids();
    const std::span<const qint32> all(ids.constData(), size_t(ids.size()));
    const std::span<const qint32> first = all.first(all.size() / 2), second = all.subspan(all.size() / 2);
    const SongFinder finder(musicFolder, status.path, status.userMusicFolder);
    QFuture<qsizetype> secondHalf = QtConcurrent::run([&] { return countMissing(songs, second, finder, stop); });
    status.missingFiles = countMissing(songs, first, finder, stop);
    status.missingFiles += secondHalf.result();
    if (stop && stop->load(std::memory_order_relaxed)) {
        qCInfo(lcLibrary, "stopped looking over %s, for a song list", qUtf8Printable(status.path));
        return;
    }
    qCInfo(lcLibrary, "looked over %s: %lld songs, %lld files not found, in %lld ms", qUtf8Printable(status.path),
           qlonglong(status.songs), qlonglong(status.missingFiles), qlonglong(timer.elapsed()));
}

} // namespace

namespace LibrarySurvey {

LibraryStatus read(const QString &homePath, const QString &userMusicFolder, const LibraryStatus &previous,
                   const std::atomic<bool> *stop)
{
    LibraryStatus status;
    status.path = LibraryLocator::libraryPath(homePath);
    status.userMusicFolder = userMusicFolder;
    status.readAt = QDateTime::currentDateTime();
    const QFileInfo file(status.path);
    if (!file.exists()) {
        status.state = LibraryStatus::State::NotFound;
        return status;
    }
    if (!file.isFile()) {
        status.state = LibraryStatus::State::NotAFile;
        return status;
    }
    status.fileSize = file.size();
    status.fileModified = file.lastModified();
    if (readFromTheSameFile(previous, status)) {
        LibraryStatus same = previous;
        same.readAt = status.readAt;
        return same;
    }

    const std::optional<PropertyList> library = PropertyList::readFile(status.path, stop);
    if (!library || !library->root().isDictionary()) {
        status.state = LibraryStatus::State::Unreadable;
        return status;
    }
    const PlistValue root = library->root();
    status.tracks = root.value(QLatin1StringView("Tracks")).count();
    TrackIndex songs;
    SongListBuilder::build(root, QString(), songs);
    countSongs(status, songs, root.value(QLatin1StringView("Music Folder")).toString(), stop);
    return status;
}

LibraryStatus fromList(const SongList &list, const QString &homePath, const QString &userMusicFolder,
                       const LibraryStatus &previous, const std::atomic<bool> *stop)
{
    if (!list.isListed() || list.libraryPath != LibraryLocator::libraryPath(homePath))
        return read(homePath, userMusicFolder, previous, stop);
    LibraryStatus status;
    status.path = list.libraryPath;
    status.userMusicFolder = userMusicFolder;
    status.readAt = QDateTime::currentDateTime();
    status.fileSize = list.librarySize;
    status.fileModified = list.libraryModified;
    status.tracks = list.trackCount;
    if (readFromTheSameFile(previous, status) && previous.songs == list.index.size()) {
        LibraryStatus same = previous;
        same.readAt = status.readAt;
        return same;
    }
    countSongs(status, list.index, list.musicFolder, stop);
    return status;
}

} // namespace LibrarySurvey
