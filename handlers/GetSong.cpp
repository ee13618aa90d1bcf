// SPDX-License-Identifier: GPL-3.0-or-later
#include "GetSong.h"

#include "EndpointActivity.h"
#include "EndpointContext.h"
#include "HTTPConnection.h"
#include "LibraryError.h"
#include "MusicLibrary.h"
#include "SongFile.h"
#include "SongLocation.h"

#include <QFileInfo>
#include <QTimer>

namespace {

// Often enough for a bar to move smoothly, rarely enough that redrawing it costs a download nothing: write steps
// come thousands of times a second, and redrawing the row costs about as much as the step that sent a megabyte.
constexpr std::chrono::milliseconds progressInterval{250};

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

void GetSong::startResponse()
{
    const QString trackId = trackIdOf(m_url.relativeString());
    QString songName = trackId;
    auto refusal = EndpointActivity::Refusal::NotListed;
    try {
        const MusicLibrary *library = context() ? context()->library : nullptr;
        const QString location = library ? library->getSongLocation(trackId) : QString();
        if (location.isNull())
            throw LibraryError(QStringLiteral("No song with track ID '%1' could be found.").arg(trackId));

        refusal = EndpointActivity::Refusal::NoFile;
        // A path whose escapes are not UTF-8 is named as the library spells it.
        const std::optional<QString> path = SongLocation::filePath(location);
        songName = path.value_or(location);
        std::unique_ptr<QFile> file = path ? SongFile::open(*path) : nullptr;
        if (!file && path) {
            for (const QString &copied : library->copiedSongPaths(location)) {
                if ((file = SongFile::open(copied)))
                    break;
            }
        }
        if (!file)
            throw LibraryError(QStringLiteral("An unexpected error occurred sending song: %1").arg(songName));

        const qint64 size = file->size();
        writeResponse(HTTPResponse::plainText(200, size));
        // The file goes out as the socket drains. Should it end early, the connection is cut rather than
        // followed by anything the handset could take for the rest of the song.
        if (HTTPConnection *connection = fileHandle()) {
            reportDownload(connection, QFileInfo(songName).fileName(), size);
            connection->sendFile(std::move(file), size);
        }
    } catch (const LibraryError &error) {
        EndpointActivity *activity = context() ? context()->activity : nullptr;
        if (HTTPConnection *connection = fileHandle(); activity && connection)
            emit activity->downloadRefused(connection->peerAddress().toString(), songName, refusal);
        errorResponse(QStringLiteral("An unexpected error occurred sending the song '") + songName
                      + QStringLiteral("': ") + error.reason());
    }
    finishResponse();
}

void GetSong::reportDownload(HTTPConnection *connection, const QString &fileName, qint64 size)
{
    EndpointActivity *activity = context() ? context()->activity : nullptr;
    if (!activity)
        return;
    static quint64 downloads = 0;
    const quint64 id = ++downloads;
    emit activity->downloadStarted(id, connection->peerAddress().toString(), fileName, size);
    // Sampled, so that the sending path reports nothing; the last figure goes out right before the end.
    auto *sampler = new QTimer(connection);
    const auto sent = [connection, size] { return size - connection->fileBytesRemaining(); };
    connect(sampler, &QTimer::timeout, activity, [activity, id, sent] { emit activity->downloadProgress(id, sent()); });
    connect(connection, &HTTPConnection::closed, activity, [activity, id, connection, sampler, sent] {
        sampler->stop();
        emit activity->downloadProgress(id, sent());
        emit activity->downloadFinished(id, connection->fileBytesRemaining() == 0);
    });
    sampler->start(progressInterval);
}
