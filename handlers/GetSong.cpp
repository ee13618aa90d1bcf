#include "GetSong.h"

#include "EndpointError.h"
#include "ErrorResponse.h"
#include "GetSongListResponse.h"
#include "HTTPConnection.h"
#include "SongLocation.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Opens without blocking: a FIFO or device at a song's path must not stall the whole server.
std::unique_ptr<QFile> openRegularFile(const QString &path)
{
    const int descriptor = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (descriptor < 0)
        return nullptr;
    struct stat status = {};
    if (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode) || status.st_size == 0) {
        ::close(descriptor);
        return nullptr;
    }
    auto file = std::make_unique<QFile>();
    if (!file->open(descriptor, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(descriptor);
        return nullptr;
    }
    return file;
}

} // namespace

void GetSong::load()
{
    registerHandler(HandlerClass::of<GetSong>());
}

bool GetSong::canHandleRequest(const HTTPRequest &, const QString &, const RequestURL &url, const HeaderFields &)
{
    return url.path() == QLatin1StringView("/getSong");
}

QString GetSong::trackIdOf(const QString &urlText)
{
    const qsizetype question = urlText.indexOf(u'?');
    if (question < 0 || question + 4 > urlText.size())
        return QString(QLatin1StringView(""));
    return urlText.sliced(question + 4);
}

std::unique_ptr<QFile> GetSong::openSongFile(const QString &path)
{
    for (const QString &candidate : {path, path.normalized(QString::NormalizationForm_C),
                                     path.normalized(QString::NormalizationForm_D)}) {
        if (std::unique_ptr<QFile> file = openRegularFile(candidate))
            return file;
    }
    return nullptr;
}

void GetSong::startResponse()
{
    const QString trackId = trackIdOf(m_url.relativeString());
    QString songName = trackId;
    try {
        const QString location = GetSongListResponse::getSongLocation(trackId);
        if (location.isNull())
            throw EndpointError(QStringLiteral("No song with track ID '%1' could be found.").arg(trackId));

        // A path whose escapes are not UTF-8 is named as the library spells it.
        const std::optional<QString> path = SongLocation::filePath(location);
        songName = path.value_or(location);
        std::unique_ptr<QFile> file = path ? openSongFile(*path) : nullptr;
        if (!file)
            throw EndpointError(QStringLiteral("An unexpected error occurred sending song: %1").arg(songName));

        const qint64 size = file->size();
        HTTPResponse response(200);
        response.setHeaderField("Content-Type", "text/plain");
        response.setHeaderField("Connection", "close");
        response.setHeaderField("Content-Length", QByteArray::number(size));
        writeResponse(response);
        // The file goes out as the socket drains. Should it end early, the connection is cut rather than
        // followed by anything the handset could take for the rest of the song.
        if (fileHandle())
            fileHandle()->sendFile(std::move(file), size);
    } catch (const EndpointError &error) {
        errorResponse(QStringLiteral("An unexpected error occurred sending the song '") + songName
                      + QStringLiteral("': ") + error.reason());
    }
    closeHandler();
}

void GetSong::errorResponse(const QString &message)
{
    const ErrorResponse response(message);
    writeResponse(response.head, response.body);
    closeHandler();
}
