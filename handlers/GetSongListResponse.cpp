#include "GetSongListResponse.h"

#include "EndpointError.h"
#include "ErrorResponse.h"
#include "HTTPConnection.h"
#include "LibraryLocator.h"
#include "SongListBuilder.h"
#include "URLParser.h"

#include <QDir>

std::optional<QHash<QString, QString>> GetSongListResponse::songById;

void GetSongListResponse::load()
{
    registerHandler(HandlerClass::of<GetSongListResponse>());
}

bool GetSongListResponse::canHandleRequest(const HTTPRequest &, const QString &, const RequestURL &url,
                                           const HeaderFields &)
{
    return url.path() == QLatin1StringView("/getSongList");
}

QString GetSongListResponse::xmlEncode(const QString &text)
{
    return SongListBuilder::xmlEncode(text);
}

PropertyList GetSongListResponse::getSongDictionary()
{
    return LibraryLocator::load(QDir::homePath());
}

QString GetSongListResponse::getSongLocation(const QString &trackId)
{
    return songById ? songById->value(trackId) : QString();
}

void GetSongListResponse::startResponse()
{
    try {
        const QString device = URLParser(m_url.absoluteString()).valueForVariable(u"device");
        QByteArray body;
        {
            const PropertyList library = getSongDictionary();

            // A new index from here on, even if this list goes no further.
            songById.emplace();
            body = SongListBuilder::build(library.root(), device, *songById);
        } // the parsed library goes before the body is sent, so the two are never held at once

        HTTPResponse response(200);
        response.setHeaderField("Content-Type", "text/plain");
        response.setHeaderField("Connection", "close");
        response.setHeaderField("Content-Length", QByteArray::number(body.size()));
        // The same bytes as writeResponse(response, body), without copying a body of many megabytes behind the head.
        if (HTTPConnection *connection = fileHandle()) {
            connection->write(response.serialized());
            connection->write(std::move(body));
        }
    } catch (const EndpointError &error) {
        errorResponse(QStringLiteral("An unexpected error occurred sending the song list: ") + error.reason());
    }
    closeHandler();
}

void GetSongListResponse::errorResponse(const QString &message)
{
    const ErrorResponse response(message);
    writeResponse(response.head, response.body);
    closeHandler();
}
