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

#include <sys/stat.h>

namespace {

// How many songs are checked between two looks at whether to stop.
constexpr qsizetype stopCheckInterval = 4096;

bool isSongFileAt(const QString &path)
{
    struct stat status = {};
    return ::stat(QFile::encodeName(path).constData(), &status) == 0 && S_ISREG(status.st_mode) && status.st_size > 0;
}

// As the download opens it: the path as written, then in the other Unicode normal forms.
bool isSongFile(const QString &path)
{
    if (isSongFileAt(path))
        return true;
    for (const auto form : {QString::NormalizationForm_C, QString::NormalizationForm_D}) {
        const QString normalized = path.normalized(form);
        if (normalized != path && isSongFileAt(normalized))
            return true;
    }
    return false;
}

bool isFound(const QString &location, const QString &musicFolder, const QString &libraryPath,
             const QString &userMusicFolder)
{
    const std::optional<QString> path = SongLocation::filePath(location);
    if (path && isSongFile(*path))
        return true;
    const QStringList copies = CopiedLibrary::candidatePaths(location, musicFolder, libraryPath, userMusicFolder);
    return std::any_of(copies.begin(), copies.end(), isSongFile);
}

} // namespace

namespace LibrarySurvey {

LibraryStatus read(const QString &homePath, const QString &userMusicFolder, const LibraryStatus &previous,
                   const std::function<bool()> &stopRequested)
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
    if (previous.state == LibraryStatus::State::Read && previous.path == status.path
        && previous.fileSize == status.fileSize && previous.fileModified == status.fileModified
        && previous.userMusicFolder == userMusicFolder) {
        LibraryStatus same = previous;
        same.readAt = status.readAt;
        return same;
    }

    QElapsedTimer timer;
    timer.start();
    const std::optional<PropertyList> library = PropertyList::readFile(status.path);
    if (!library || !library->root().isDictionary()) {
        status.state = LibraryStatus::State::Unreadable;
        return status;
    }
    status.state = LibraryStatus::State::Read;
    const PlistValue root = library->root();
    status.tracks = root.value(QLatin1StringView("Tracks")).count();
    TrackIndex songs;
    SongListBuilder::build(root, QString(), songs);
    status.songs = songs.size();

    const QString musicFolder = root.value(QLatin1StringView("Music Folder")).toString();
    const QList<qint32> ids = songs.ids();
    for (qsizetype i = 0; i < ids.size(); ++i) {
        if (i % stopCheckInterval == 0 && stopRequested && stopRequested()) {
            status.fileSize = -1; // never taken for a whole count later
            break;
        }
        if (!isFound(QString::fromUtf8(songs.location(ids[i])), musicFolder, status.path, userMusicFolder))
            ++status.missingFiles;
    }
    qCInfo(lcLibrary, "looked over %s: %lld songs, %lld files not found, in %lld ms", qUtf8Printable(status.path),
           qlonglong(status.songs), qlonglong(status.missingFiles), qlonglong(timer.elapsed()));
    return status;
}

} // namespace LibrarySurvey
