#include "GetSongListResponse.h"

#include "EndpointError.h"
#include "ErrorResponse.h"
#include "HTTPConnection.h"
#include "LibraryLocator.h"
#include "SongListBuilder.h"
#include "URLParser.h"
#include "Utf8Text.h"

#include <QDir>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <vector>

#ifdef __GLIBC__
#include <malloc.h>
#endif

std::optional<SongListBuilder::TrackIndex> GetSongListResponse::songById;

namespace {

// Whether `index` already holds, with the same Location, at least three in four of the playable tracks in a
// sample spread over the library: then bringing it up to date is cheaper than making it anew.
bool holdsMostOf(const SongListBuilder::TrackIndex &index, const PlistValue &library)
{
    constexpr qsizetype samples = 64;
    const PlistValue tracks = library.value(QLatin1StringView("Tracks"));
    const qsizetype count = tracks.count();
    qsizetype playable = 0;
    qsizetype held = 0;
    for (qsizetype i = 0; i < std::min(samples, count); ++i) {
        const PlistValue track = tracks.valueAt(i * count / std::min(samples, count));
        if (!SongListBuilder::isPlayable(track))
            continue;
        ++playable;
        const auto known = index.constFind(qint32(track.value(QLatin1StringView("Track ID")).toInteger()));
        held += known != index.cend() && *known == track.value(QLatin1StringView("Location")).toUtf8();
    }
    return playable > 0 && held * 4 >= playable * 3;
}

// Hands memory that the heap holds free back to the system, as after songs have left the index.
void releaseFreedMemory()
{
#ifdef __GLIBC__
    ::malloc_trim(0);
#endif
}

// Leaves in `index` only the songs that the body lists, one "<song><trackid>ID</trackid>…\r\n" line each, its pieces
// made of whole lines; true if any had to go.
bool removeUnlisted(SongListBuilder::TrackIndex &index, const QByteArrayList &body)
{
    static constexpr QByteArrayView lineStart("<song><trackid>");
    std::vector<qint32> listed;
    listed.reserve(size_t(index.size()));
    for (const QByteArray &piece : body) {
        const char *line = piece.constData();
        const char *const end = line + piece.size();
        while (line < end) {
            if (QByteArrayView(line, end - line).startsWith(lineStart)) {
                qint32 id = 0;
                line = std::from_chars(line + lineStart.size(), end, id).ptr;
                listed.push_back(id);
            }
            line = static_cast<const char *>(std::memchr(line, '\n', size_t(end - line)));
            if (!line)
                break;
            ++line;
        }
    }
    std::sort(listed.begin(), listed.end());
    listed.erase(std::unique(listed.begin(), listed.end()), listed.end());
    // Every listed song is in the index, so equal counts mean nothing else is.
    if (qsizetype(listed.size()) == index.size())
        return false;
    index.removeIf([&listed](const SongListBuilder::TrackIndex::iterator &entry) {
        return !std::binary_search(listed.begin(), listed.end(), entry.key());
    });
    return true;
}

} // namespace

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
    bool isNumber = false;
    const qint32 id = trackId.toInt(&isNumber);
    if (!songById || !isNumber || QString::number(id) != trackId)
        return {};
    const auto known = songById->constFind(id);
    return known == songById->cend() ? QString() : textFromUtf8(*known);
}

void GetSongListResponse::startResponse()
{
    try {
        const QString device = URLParser(m_url.absoluteString()).valueForVariable(u"device");
        QByteArrayList body;
        {
            const PropertyList library = getSongDictionary();

            // A new index from here on, even if this list goes no further. When the library still holds the
            // previous list's songs, that index is brought up to date rather than replaced: the strings of songs
            // that have not moved are kept instead of all being freed and made again, which costs more than the
            // rest of the index. Otherwise it goes first, so that two indexes are never held at once.
            if (!songById || !holdsMostOf(*songById, library.root()))
                songById.emplace();
            SongListBuilder::TrackIndex &index = *songById;
            try {
                body = SongListBuilder::buildPieces(library.root(), device, index);
            } catch (...) {
                songById.emplace();
                throw;
            }
        } // the parsed library goes before the body is sent, so the two are never held at once
        if (removeUnlisted(*songById, body))
            releaseFreedMemory();

        HTTPResponse response(200);
        response.setHeaderField("Content-Type", "text/plain");
        response.setHeaderField("Connection", "close");
        qsizetype bodyBytes = 0;
        for (const QByteArray &piece : std::as_const(body))
            bodyBytes += piece.size();
        response.setHeaderField("Content-Length", QByteArray::number(bodyBytes));
        // The same bytes as writeResponse(response, body.join()), without copying a body of many megabytes.
        if (HTTPConnection *connection = fileHandle()) {
            connection->write(response.serialized());
            for (QByteArray &piece : body)
                connection->write(std::move(piece));
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
