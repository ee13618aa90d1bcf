#include "SongListBuilder.h"

#include "AsciiText.h"
#include "SongLocation.h"

namespace {

// The formats the handsets play. Tested in this order; only the first occurrence of each counts.
constexpr QByteArrayView playableExtensions[] = {".m4a", ".wma", ".wav", ".mp3", ".aac"};

// The longest text one code unit of a field becomes in the body: "&amp;".
constexpr qsizetype maxEncodedBytesPerUnit = 5;

// A generous guess at one listed song's line, so the body is rarely copied as it grows.
constexpr qsizetype estimatedLineBytes = 200;

// Writes the list straight into the ASCII it is sent in. Converting piece by piece gives the same bytes as
// converting the whole text, since the conversion works one code unit at a time.
class BodyWriter
{
public:
    explicit BodyWriter(qsizetype expectedSongs) { m_body.reserve(expectedSongs * estimatedLineBytes + 32); }

    void append(QByteArrayView ascii) { m_body.append(ascii); }

    // A field as the list writes it: "&", ">" and "<" as entities, white space trimmed from both ends.
    // Trimming first gives the same text as escaping first, since escaping leaves white space alone.
    void appendEncoded(QStringView text)
    {
        appendEncodedUnits(text, [](QChar c) { return c.isSpace(); }, [](QChar c) { return toLossyAscii(c); });
    }

    // The same from UTF-8. Most fields are plain ASCII and go straight from the library's bytes.
    void appendEncoded(QByteArrayView utf8)
    {
        if (!isAscii(utf8)) {
            appendEncoded(QString::fromUtf8(utf8));
            return;
        }
        appendEncodedUnits(utf8, [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }, [](char c) { return c; });
    }

    QByteArray take() { return std::move(m_body); }

private:
    static char16_t codeUnit(QChar c) { return c.unicode(); }
    static char16_t codeUnit(char c) { return static_cast<unsigned char>(c); }

    static bool isAscii(QByteArrayView bytes)
    {
        return std::all_of(bytes.begin(), bytes.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    }

    template<class Text, class IsSpace, class ToAscii>
    void appendEncodedUnits(const Text &text, IsSpace isSpace, ToAscii toAscii)
    {
        qsizetype begin = 0;
        qsizetype end = text.size();
        while (begin < end && isSpace(text[begin]))
            ++begin;
        while (end > begin && isSpace(text[end - 1]))
            --end;

        const qsizetype start = m_body.size();
        m_body.resize(start + (end - begin) * maxEncodedBytesPerUnit);
        char *out = m_body.data() + start;
        for (qsizetype i = begin; i < end; ++i) {
            switch (codeUnit(text[i])) {
            case u'&': out = std::copy_n("&amp;", 5, out); break;
            case u'>': out = std::copy_n("&gt;", 4, out); break;
            case u'<': out = std::copy_n("&lt;", 4, out); break;
            default: *out++ = toAscii(text[i]);
            }
        }
        m_body.truncate(out - m_body.constData());
    }

    QByteArray m_body;
};

QByteArray textOr(const PlistValue &value, QByteArrayView fallback)
{
    const QByteArray text = value.toUtf8();
    return text.isEmpty() ? fallback.toByteArray() : text;
}

// Decided on the UTF-8 bytes: the prefixes and extensions are ASCII, so where they first occur is the same
// question in either encoding, and most tracks are decided without building a string.
bool isPlayableLocation(QByteArrayView location)
{
    if (location.isEmpty() || !SongLocation::isLocalFile(location))
        return false;
    const qsizetype extensionStart = location.size() - 4;
    for (const QByteArrayView extension : playableExtensions) {
        if (location.indexOf(extension) == extensionStart)
            return true;
    }
    return false;
}

} // namespace

QString SongListBuilder::wantedPlaylistName(const QString &deviceValue)
{
    return deviceValue == QLatin1StringView("bb10") ? QStringLiteral("blackberry") : QStringLiteral("playbook");
}

PlistValue SongListBuilder::choosePlaylist(const PlistValue &playlists, const QString &wantedName)
{
    for (qsizetype i = 0; i < playlists.count(); ++i) {
        const PlistValue playlist = playlists.at(i);
        const QString name = playlist.value(QLatin1StringView("Name")).toString();
        if (!name.isNull() && name.toLower() == wantedName)
            return playlist;
    }
    if (wantedName == QLatin1StringView("blackberry"))
        return choosePlaylist(playlists, QStringLiteral("playbook"));
    return {};
}

QSet<QString> SongListBuilder::playlistFilter(const PlistValue &playlist)
{
    QSet<QString> trackIds;
    const PlistValue items = playlist.value(QLatin1StringView("Playlist Items"));
    for (qsizetype i = 0; i < items.count(); ++i)
        trackIds.insert(trackIdText(items.at(i)));
    return trackIds;
}

bool SongListBuilder::isPlayable(const PlistValue &track)
{
    return !track.contains(QLatin1StringView("Disabled"))
           && isPlayableLocation(track.value(QLatin1StringView("Location")).toUtf8());
}

QString SongListBuilder::trackIdText(const PlistValue &value)
{
    return QString::number(qint32(value.value(QLatin1StringView("Track ID")).toInteger()));
}

QByteArray SongListBuilder::build(const PlistValue &library, const QString &deviceValue, TrackIndex &index)
{
    const PlistValue playlists = library.value(QLatin1StringView("Playlists"));
    const QSet<QString> filter = playlistFilter(choosePlaylist(playlists, wantedPlaylistName(deviceValue)));
    const PlistValue tracks = library.value(QLatin1StringView("Tracks"));
    const qsizetype expectedSongs = filter.isEmpty() ? tracks.count() : filter.size();
    index.reserve(expectedSongs);

    BodyWriter body(expectedSongs);
    body.append("<songs>\r\n");
    for (qsizetype i = 0; i < tracks.count(); ++i) {
        const PlistValue track = tracks.valueAt(i);
        // The cheapest test first: the tests have no effects, so their order does not change what is listed.
        const QString trackId = trackIdText(track);
        if (!filter.isEmpty() && !filter.contains(trackId))
            continue;
        if (track.contains(QLatin1StringView("Disabled")))
            continue;
        const QByteArray location = track.value(QLatin1StringView("Location")).toUtf8();
        if (!isPlayableLocation(location))
            continue;

        body.append("<song><trackid>");
        body.append(trackId.toLatin1());
        body.append("</trackid><name>");
        body.appendEncoded(QByteArrayView(track.value(QLatin1StringView("Name")).toUtf8()));
        body.append("</name><album>");
        body.appendEncoded(QByteArrayView(textOr(track.value(QLatin1StringView("Album")), "Unknown Album")));
        body.append("</album><artist>");
        body.appendEncoded(QByteArrayView(textOr(track.value(QLatin1StringView("Artist")), "Unknown Artist")));
        body.append("</artist><filename>");
        body.appendEncoded(QByteArrayView(SongLocation::fileNameUtf8(location)));
        body.append("</filename></song>\r\n");
        index.insert(trackId, QString::fromUtf8(location));
    }
    body.append("</songs>");
    return body.take();
}

QString SongListBuilder::xmlEncode(const QString &text)
{
    QString encoded = text;
    encoded.replace(u'&', QLatin1StringView("&amp;"));
    encoded.replace(u'>', QLatin1StringView("&gt;"));
    encoded.replace(u'<', QLatin1StringView("&lt;"));
    return encoded.trimmed();
}
