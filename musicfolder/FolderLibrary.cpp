// SPDX-License-Identifier: GPL-3.0-or-later
#include "FolderLibrary.h"

#include "DictionaryScan.h"
#include "PropertyList.h"
#include "PropertyListWriter.h"
#include "SongLocation.h"

#include <QCryptographicHash>
#include <QRandomGenerator>
#include <QUrl>

#include <array>

namespace {

QString kindOf(const QByteArray &path)
{
    const QByteArray extension = path.sliced(path.lastIndexOf('.') + 1).toLower();
    if (extension == "mp3")
        return QStringLiteral("MPEG audio file");
    if (extension == "m4a" || extension == "aac")
        return QStringLiteral("AAC audio file");
    if (extension == "wav")
        return QStringLiteral("WAV audio file");
    if (extension == "wma")
        return QStringLiteral("Windows Media audio file");
    return QStringLiteral("Audio file");
}

QString fileTitle(const QByteArray &path)
{
    const QByteArray fileName = path.sliced(path.lastIndexOf('/') + 1);
    const qsizetype dot = fileName.lastIndexOf('.');
    return TrackTags::xmlSafe(QString::fromUtf8(dot > 0 ? fileName.left(dot) : fileName));
}

// Playlists have no state of their own to keep, so their IDs follow from what they are; the same folder then
// writes the same file.
QString derivedPersistentId(const QString &name, qsizetype position)
{
    const QByteArray seed = name.toUtf8() + '\0' + QByteArray::number(position);
    return QString::fromLatin1(QCryptographicHash::hash(seed, QCryptographicHash::Sha1).left(8).toHex().toUpper());
}

void writeText(PropertyListWriter &plist, const QString &key, const QString &value)
{
    if (value.isEmpty())
        return;
    plist.writeKey(key);
    plist.writeString(value);
}

void writeNumber(PropertyListWriter &plist, const QString &key, qint64 value)
{
    if (value == 0)
        return;
    plist.writeKey(key);
    plist.writeInteger(value);
}

void writeTrack(PropertyListWriter &plist, const FolderLibrary::Track &track)
{
    const TrackTags &tags = track.tags;
    plist.beginDictionary();
    plist.writeKey(QStringLiteral("Track ID"));
    plist.writeInteger(track.trackId);
    writeText(plist, QStringLiteral("Name"), tags.name.isEmpty() ? fileTitle(track.path) : tags.name);
    writeText(plist, QStringLiteral("Artist"), tags.artist);
    writeText(plist, QStringLiteral("Album Artist"), tags.albumArtist);
    writeText(plist, QStringLiteral("Album"), tags.album);
    writeText(plist, QStringLiteral("Genre"), tags.genre);
    writeText(plist, QStringLiteral("Kind"), kindOf(track.path));
    plist.writeKey(QStringLiteral("Size"));
    plist.writeInteger(track.size);
    if (tags.readable) { // how an unreadable file is told on the next scan
        plist.writeKey(QStringLiteral("Total Time"));
        plist.writeInteger(tags.totalTime);
    }
    writeNumber(plist, QStringLiteral("Disc Number"), tags.discNumber);
    writeNumber(plist, QStringLiteral("Track Number"), tags.trackNumber);
    writeNumber(plist, QStringLiteral("Year"), tags.year);
    plist.writeKey(QStringLiteral("Date Modified"));
    plist.writeDate(QDateTime::fromSecsSinceEpoch(track.modified, Qt::UTC));
    plist.writeKey(QStringLiteral("Date Added"));
    plist.writeDate(track.dateAdded);
    writeNumber(plist, QStringLiteral("Bit Rate"), tags.bitRate);
    writeNumber(plist, QStringLiteral("Sample Rate"), tags.sampleRate);
    writeText(plist, QStringLiteral("Persistent ID"), track.persistentId);
    writeText(plist, QStringLiteral("Track Type"), QStringLiteral("File"));
    writeText(plist, QStringLiteral("Location"), QString::fromLatin1(FolderLibrary::fileUrl(track.path)));
    plist.endDictionary();
}

void writePlaylist(PropertyListWriter &plist, const QString &name, int id, const QString &persistentId,
                   const QList<int> &trackIds, bool master)
{
    plist.beginDictionary();
    if (master) {
        plist.writeKey(QStringLiteral("Master"));
        plist.writeBoolean(true);
    }
    plist.writeKey(QStringLiteral("Playlist ID"));
    plist.writeInteger(id);
    writeText(plist, QStringLiteral("Playlist Persistent ID"), persistentId);
    if (master) {
        plist.writeKey(QStringLiteral("Visible"));
        plist.writeBoolean(false);
    }
    plist.writeKey(QStringLiteral("All Items"));
    plist.writeBoolean(true);
    writeText(plist, QStringLiteral("Name"), name);
    plist.writeKey(QStringLiteral("Playlist Items"));
    plist.beginArray();
    for (const int trackId : trackIds) {
        plist.beginDictionary();
        plist.writeKey(QStringLiteral("Track ID"));
        plist.writeInteger(trackId);
        plist.endDictionary();
    }
    plist.endArray();
    plist.endDictionary();
}

QString text(const PlistValue &value)
{
    return value.isString() ? value.toString() : QString();
}

} // namespace

std::optional<FolderLibrary> FolderLibrary::read(const QString &path)
{
    const std::optional<PropertyList> file = PropertyList::readFile(path);
    if (!file)
        return std::nullopt;
    const PlistValue root = file->root();
    const std::optional<QByteArray> folder =
        pathOfFileUrl(root.value(QLatin1StringView("Music Folder")).toUtf8());
    if (!folder)
        return std::nullopt;
    FolderLibrary library;
    library.folder = *folder;
    if (library.folder.size() > 1 && library.folder.endsWith('/'))
        library.folder.chop(1);
    library.persistentId = text(root.value(QLatin1StringView("Library Persistent ID")));

    enum Key { Location, Size, Modified, Id, PersistentId, Added, Name, Artist, AlbumArtist, Album, Genre, Year,
               TrackNumber, DiscNumber, TotalTime, BitRate };
    static constexpr std::array<QLatin1StringView, 16> keys{
        QLatin1StringView("Location"), QLatin1StringView("Size"), QLatin1StringView("Date Modified"),
        QLatin1StringView("Track ID"), QLatin1StringView("Persistent ID"), QLatin1StringView("Date Added"),
        QLatin1StringView("Name"), QLatin1StringView("Artist"), QLatin1StringView("Album Artist"),
        QLatin1StringView("Album"), QLatin1StringView("Genre"), QLatin1StringView("Year"),
        QLatin1StringView("Track Number"), QLatin1StringView("Disc Number"), QLatin1StringView("Total Time"),
        QLatin1StringView("Bit Rate")};
    const PlistValue tracks = root.value(QLatin1StringView("Tracks"));
    library.tracks.reserve(tracks.count());
    const DictionaryScan scan(tracks);
    QByteArray scratch;
    for (qsizetype i = 0; i < tracks.count(); ++i) {
        const PlistValue dictionary = tracks.valueAt(i);
        const std::array<PlistValue, keys.size()> t = scan.values(i, tracks.count(), keys);
        const std::optional<QByteArray> trackPath = pathOfFileUrl(DictionaryScan::utf8(t[Location], scratch));
        if (!trackPath)
            continue;
        Track track;
        track.path = *trackPath;
        track.size = t[Size].toInteger();
        track.modified = t[Modified].toDateTime().toSecsSinceEpoch();
        track.trackId = int(t[Id].toInteger());
        track.persistentId = text(t[PersistentId]);
        track.dateAdded = t[Added].toDateTime();
        TrackTags &tags = track.tags;
        tags.name = text(t[Name]); // the file's name where it had no title, which writes the same again
        tags.artist = text(t[Artist]);
        tags.albumArtist = text(t[AlbumArtist]);
        tags.album = text(t[Album]);
        tags.genre = text(t[Genre]);
        tags.year = int(t[Year].toInteger());
        tags.trackNumber = int(t[TrackNumber].toInteger());
        tags.discNumber = int(t[DiscNumber].toInteger());
        tags.readable = !t[TotalTime].isAbsent();
        tags.totalTime = int(t[TotalTime].toInteger());
        tags.bitRate = int(t[BitRate].toInteger());
        tags.sampleRate = int(dictionary.value(QLatin1StringView("Sample Rate")).toInteger());
        library.tracks.append(std::move(track));
    }

    const PlistValue playlists = root.value(QLatin1StringView("Playlists"));
    for (qsizetype i = 0; i < playlists.count(); ++i) {
        const PlistValue p = playlists.at(i);
        if (p.contains(QLatin1StringView("Master")))
            continue;
        Playlist playlist{text(p.value(QLatin1StringView("Name"))), {}};
        const PlistValue items = p.value(QLatin1StringView("Playlist Items"));
        for (qsizetype j = 0; j < items.count(); ++j)
            playlist.trackIds.append(int(items.at(j).value(QLatin1StringView("Track ID")).toInteger()));
        library.playlists.append(std::move(playlist));
    }
    return library;
}

QByteArray FolderLibrary::toXml() const
{
    PropertyListWriter plist;
    plist.beginDictionary();
    plist.writeKey(QStringLiteral("Major Version"));
    plist.writeInteger(1);
    plist.writeKey(QStringLiteral("Minor Version"));
    plist.writeInteger(1);
    writeText(plist, QStringLiteral("Application Version"), QStringLiteral("Pellisor"));
    plist.writeKey(QStringLiteral("Show Content Ratings"));
    plist.writeBoolean(true);
    writeText(plist, QStringLiteral("Music Folder"), QString::fromLatin1(fileUrl(folder + '/')));
    writeText(plist, QStringLiteral("Library Persistent ID"), persistentId);

    plist.writeKey(QStringLiteral("Tracks"));
    plist.beginDictionary();
    int lastId = 0;
    for (const Track &track : tracks) {
        plist.writeKey(QString::number(track.trackId));
        writeTrack(plist, track);
        lastId = std::max(lastId, track.trackId);
    }
    plist.endDictionary();

    plist.writeKey(QStringLiteral("Playlists"));
    plist.beginArray();
    QList<int> everyTrack;
    everyTrack.reserve(tracks.size());
    for (const Track &track : tracks)
        everyTrack.append(track.trackId);
    writePlaylist(plist, QStringLiteral("Library"), lastId + 1, derivedPersistentId({}, 0), everyTrack, true);
    for (qsizetype i = 0; i < playlists.size(); ++i)
        writePlaylist(plist, playlists[i].name, lastId + 2 + int(i), derivedPersistentId(playlists[i].name, i + 1),
                      playlists[i].trackIds, false);
    plist.endArray();
    plist.endDictionary();
    return plist.finish();
}

bool FolderLibrary::sameFilesAs(const FolderLibrary &other) const
{
    if (folder != other.folder || playlists != other.playlists || tracks.size() != other.tracks.size())
        return false;
    for (qsizetype i = 0; i < tracks.size(); ++i) {
        const Track &a = tracks[i];
        const Track &b = other.tracks[i];
        if (a.path != b.path || a.size != b.size || a.modified != b.modified || a.trackId != b.trackId)
            return false;
    }
    return true;
}

QByteArray FolderLibrary::fileUrl(QByteArrayView path)
{
    return "file://" + QUrl::toPercentEncoding(QString::fromUtf8(path), "/");
}

std::optional<QByteArray> FolderLibrary::pathOfFileUrl(QByteArrayView url)
{
    if (!SongLocation::isLocalFile(url))
        return std::nullopt;
    // Both "file://localhost/…" and "file:///…" keep the path's leading "/".
    return SongLocation::percentDecodedUtf8(url.sliced(url.startsWith("file://localhost/") ? 16 : 7));
}

QString FolderLibrary::newPersistentId()
{
    return QString::number(QRandomGenerator::global()->generate64(), 16).rightJustified(16, u'0').toUpper();
}
