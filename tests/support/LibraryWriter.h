#pragma once

// Writes small iTunes libraries for tests, in the shape iTunes gives them.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QList>
#include <QString>
#include <QUrl>

#include <optional>

struct TestTrack
{
    qint64 trackId = 0;
    std::optional<QString> name;
    std::optional<QString> artist;
    std::optional<QString> album;
    std::optional<QString> location; // written as it stands (XML-escaped)
    bool disabled = false;
    bool writeTrackId = true;
};

struct TestPlaylist
{
    std::optional<QString> name;
    std::optional<QList<qint64>> items; // absent: no "Playlist Items" key
};

inline QByteArray xmlEscaped(const QString &text)
{
    return text.toHtmlEscaped().replace(QLatin1StringView("&quot;"), QLatin1StringView("\"")).toUtf8();
}

// "file://localhost" + the path percent-encoded as UTF-8, as iTunes writes it.
inline QString locationOf(const QString &path, const char *prefix = "file://localhost")
{
    return QString::fromLatin1(prefix) + QString::fromLatin1(path.toUtf8().toPercentEncoding("/"));
}

inline QByteArray libraryXml(const QList<TestTrack> &tracks, const QList<TestPlaylist> &playlists = {})
{
    QByteArray xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                     "<!DOCTYPE plist PUBLIC \"-//Apple Computer//DTD PLIST 1.0//EN\" "
                     "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
                     "<plist version=\"1.0\">\n<dict>\n\t<key>Major Version</key><integer>1</integer>\n"
                     "\t<key>Tracks</key>\n\t<dict>\n";
    auto stringEntry = [&xml](const char *key, const std::optional<QString> &value) {
        if (value)
            xml += QByteArray("\t\t\t<key>") + key + "</key><string>" + xmlEscaped(*value) + "</string>\n";
    };
    for (const TestTrack &track : tracks) {
        xml += "\t\t<key>" + QByteArray::number(track.trackId) + "</key>\n\t\t<dict>\n";
        if (track.writeTrackId)
            xml += "\t\t\t<key>Track ID</key><integer>" + QByteArray::number(track.trackId) + "</integer>\n";
        xml += "\t\t\t<key>Size</key><integer>4096</integer>\n";
        stringEntry("Name", track.name);
        stringEntry("Artist", track.artist);
        stringEntry("Album", track.album);
        if (track.disabled)
            xml += "\t\t\t<key>Disabled</key><false/>\n";
        stringEntry("Location", track.location);
        xml += "\t\t</dict>\n";
    }
    xml += "\t</dict>\n\t<key>Playlists</key>\n\t<array>\n";
    for (const TestPlaylist &playlist : playlists) {
        xml += "\t\t<dict>\n";
        if (playlist.name)
            xml += "\t\t\t<key>Name</key><string>" + xmlEscaped(*playlist.name) + "</string>\n";
        if (playlist.items) {
            xml += "\t\t\t<key>Playlist Items</key>\n\t\t\t<array>\n";
            for (qint64 id : *playlist.items)
                xml += "\t\t\t\t<dict><key>Track ID</key><integer>" + QByteArray::number(id) + "</integer></dict>\n";
            xml += "\t\t\t</array>\n";
        }
        xml += "\t\t</dict>\n";
    }
    xml += "\t</array>\n</dict>\n</plist>\n";
    return xml;
}

// Writes `song` to Media/song.mp3 under `home`, and a library there that lists it as track 7, "Song".
// Returns the song's path, or an empty string if either file could not be written.
inline QString writeOneSongLibrary(const QString &home, const QByteArray &song)
{
    const QString songPath = home + "/Media/song.mp3";
    const QString libraryPath = home + "/Music/iTunes/iTunes Music Library.xml";
    QFile songFile(songPath);
    QFile library(libraryPath);
    TestTrack track;
    track.trackId = 7;
    track.name = QStringLiteral("Song");
    track.location = locationOf(songPath);
    const QByteArray xml = libraryXml({track});
    const bool written = QDir().mkpath(home + "/Media") && QDir().mkpath(home + "/Music/iTunes")
                         && songFile.open(QIODevice::WriteOnly) && songFile.write(song) == song.size()
                         && library.open(QIODevice::WriteOnly) && library.write(xml) == xml.size();
    return written ? songPath : QString();
}
