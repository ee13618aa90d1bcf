#include "SongListBuilder.h"

#include "SongLocation.h"

namespace {

// The formats the handsets play. Tested in this order; only the first occurrence of each counts.
constexpr QLatin1StringView playableExtensions[] = {
    QLatin1StringView(".m4a"), QLatin1StringView(".wma"), QLatin1StringView(".wav"),
    QLatin1StringView(".mp3"), QLatin1StringView(".aac"),
};

QString textOr(const PlistValue &value, QLatin1StringView fallback)
{
    const QString text = value.toString();
    return text.isEmpty() ? QString(fallback) : text;
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
    if (track.contains(QLatin1StringView("Disabled")))
        return false;
    const QString location = track.value(QLatin1StringView("Location")).toString();
    if (location.isEmpty() || !SongLocation::isLocalFile(location))
        return false;
    const qsizetype extensionStart = location.size() - 4;
    for (const QLatin1StringView extension : playableExtensions) {
        if (location.indexOf(extension) == extensionStart)
            return true;
    }
    return false;
}

QString SongListBuilder::trackIdText(const PlistValue &value)
{
    return QString::number(qint32(value.value(QLatin1StringView("Track ID")).toInteger()));
}

QString SongListBuilder::build(const PlistValue &library, const QString &deviceValue, TrackIndex &index)
{
    const PlistValue playlists = library.value(QLatin1StringView("Playlists"));
    const QSet<QString> filter = playlistFilter(choosePlaylist(playlists, wantedPlaylistName(deviceValue)));
    const PlistValue tracks = library.value(QLatin1StringView("Tracks"));

    QString body = QStringLiteral("<songs>\r\n");
    for (qsizetype i = 0; i < tracks.count(); ++i) {
        const PlistValue track = tracks.valueAt(i);
        if (!isPlayable(track))
            continue;
        const QString trackId = trackIdText(track);
        if (!filter.isEmpty() && !filter.contains(trackId))
            continue;
        const QString location = track.value(QLatin1StringView("Location")).toString();

        body += QLatin1StringView("<song><trackid>") + trackId + QLatin1StringView("</trackid><name>")
                + xmlEncode(track.value(QLatin1StringView("Name")).toString()) + QLatin1StringView("</name><album>")
                + xmlEncode(textOr(track.value(QLatin1StringView("Album")), QLatin1StringView("Unknown Album")))
                + QLatin1StringView("</album><artist>")
                + xmlEncode(textOr(track.value(QLatin1StringView("Artist")), QLatin1StringView("Unknown Artist")))
                + QLatin1StringView("</artist><filename>") + xmlEncode(SongLocation::fileName(location))
                + QLatin1StringView("</filename></song>\r\n");
        index.insert(trackId, location);
    }
    body += QLatin1StringView("</songs>");
    return body;
}

QString SongListBuilder::xmlEncode(const QString &text)
{
    QString encoded = text;
    encoded.replace(u'&', QLatin1StringView("&amp;"));
    encoded.replace(u'>', QLatin1StringView("&gt;"));
    encoded.replace(u'<', QLatin1StringView("&lt;"));
    return encoded.trimmed();
}
