// SPDX-License-Identifier: GPL-3.0-or-later
#include "GetSongListResponse.h"

#include "EndpointActivity.h"
#include "EndpointContext.h"
#include "HTTPConnection.h"
#include "MusicLibrary.h"
#include "URLParser.h"

void GetSongListResponse::load()
{
    registerHandler(HandlerClass::of<GetSongListResponse>());
}

bool GetSongListResponse::canHandleRequest(const HTTPRequest &, const QString &, const RequestURL &url,
                                           const HeaderFields &)
{
    return url.path() == QLatin1StringView("/getSongList");
}

void GetSongListResponse::startResponse()
{
    MusicLibrary *library = context() ? context()->library : nullptr;
    if (!library) {
        sendSongList(SongList());
        return;
    }
    m_requested.start();
    const QString device = URLParser(m_url.absoluteString()).valueForVariable(u"device");
    // Answered later, from the event loop; not at all if the connection has gone and this handler with it.
    library->requestSongList(device, this, [this](const SongList &list) { sendSongList(list); });
}

void GetSongListResponse::sendSongList(const SongList &list)
{
    if (list.isListed()) {
        writeResponse(HTTPResponse::plainText(200, list.bodySize()));
        // The pieces go out one after another, the same bytes as the whole body without copying it.
        if (HTTPConnection *connection = fileHandle()) {
            for (const QByteArray &piece : list.body)
                connection->write(piece);
            if (EndpointActivity *activity = context()->activity)
                emit activity->songListSent(connection->peerAddress().toString(), list.index.size(),
                                            m_requested.elapsed());
        }
    } else if (!list.failure.isNull()) {
        errorResponse(QStringLiteral("An unexpected error occurred sending the song list: ") + list.failure);
        EndpointActivity *activity = context() ? context()->activity : nullptr;
        if (HTTPConnection *connection = fileHandle(); activity && connection)
            emit activity->songListFailed(connection->peerAddress().toString(), list.failure);
    }
    finishResponse();
}
