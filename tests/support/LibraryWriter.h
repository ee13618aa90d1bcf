// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Writes property lists for tests: iTunes libraries in the XML shape iTunes gives them, and binary lists object by
// object, as macOS writes preferences.

#include <QDir>
#include <QFile>
#include <QtEndian>

#include <algorithm>
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
    QList<qint64> items;
};

// "file://localhost" + the path percent-encoded as UTF-8, as iTunes writes it.
inline QString locationOf(const QString &path)
{
    return QStringLiteral("file://localhost") + QString::fromLatin1(path.toUtf8().toPercentEncoding("/"));
}

inline QByteArray libraryXml(const QList<TestTrack> &tracks, const QList<TestPlaylist> &playlists = {})
{
    QByteArray xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE plist PUBLIC \"-//Apple Computer//DTD "
                     "PLIST 1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n<plist version=\"1.0\">\n"
                     "<dict>\n\t<key>Major Version</key><integer>1</integer>\n\t<key>Tracks</key>\n\t<dict>\n";
    const auto entry = [&xml](const char *key, const std::optional<QString> &value) {
        if (value)
            xml += QByteArray("\t\t\t<key>") + key + "</key><string>" + value->toHtmlEscaped().toUtf8() + "</string>\n";
    };
    for (const TestTrack &track : tracks) {
        const QByteArray id = QByteArray::number(track.trackId);
        xml += "\t\t<key>" + id + "</key>\n\t\t<dict>\n";
        if (track.writeTrackId)
            xml += "\t\t\t<key>Track ID</key><integer>" + id + "</integer>\n";
        entry("Name", track.name);
        entry("Artist", track.artist);
        entry("Album", track.album);
        if (track.disabled)
            xml += "\t\t\t<key>Disabled</key><false/>\n";
        entry("Location", track.location);
        xml += "\t\t</dict>\n";
    }
    xml += "\t</dict>\n\t<key>Playlists</key>\n\t<array>\n";
    for (const TestPlaylist &playlist : playlists) {
        xml += "\t\t<dict>\n";
        entry("Name", playlist.name);
        xml += "\t\t\t<key>Playlist Items</key>\n\t\t\t<array>\n";
        for (qint64 id : playlist.items)
            xml += "\t\t\t\t<dict><key>Track ID</key><integer>" + QByteArray::number(id) + "</integer></dict>\n";
        xml += "\t\t\t</array>\n\t\t</dict>\n";
    }
    return xml + "\t</array>\n</dict>\n</plist>\n";
}

inline bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return QDir().mkpath(QFileInfo(path).absolutePath()) && file.open(QIODevice::WriteOnly)
           && file.write(bytes) == bytes.size();
}

// Writes `song` to Media/song.mp3 under `home` and a library listing it as track 7; its path, or "" on failure.
inline QString writeOneSongLibrary(const QString &home, const QByteArray &song)
{
    const QString songPath = home + "/Media/song.mp3";
    const QByteArray xml = libraryXml({{7, QStringLiteral("Song"), {}, {}, locationOf(songPath)}});
    const bool written = writeFile(songPath, song) && writeFile(home + "/Music/iTunes/iTunes Music Library.xml", xml);
    return written ? songPath : QString();
}

// Writes "bplist00" files object by object, with references of two bytes; add() returns the object's reference.
struct BinaryPlistWriter
{
    QList<QByteArray> objects;

    static QByteArray bigEndian(quint64 value, int width)
    {
        value = qToBigEndian(value);
        return QByteArray(reinterpret_cast<const char *>(&value) + 8 - width, width);
    }
    // A marker with its count, spelled out as an integer object when it does not fit the low nibble.
    static QByteArray marker(int type, quint64 count, const QList<int> &refs = {})
    {
        QByteArray bytes = count < 15 ? QByteArray(1, char(type << 4 | int(count)))
                                      : char(type << 4 | 0xF) + ('\x13' + bigEndian(count, 8));
        for (const int ref : refs)
            bytes += bigEndian(quint64(ref), 2);
        return bytes;
    }

    int add(const QByteArray &object)
    {
        objects.append(object);
        return int(objects.size() - 1);
    }
    int string(const QString &text) // ASCII, or else UTF-16
    {
        if (std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x80; }))
            return add(marker(0x5, text.size()) + text.toLatin1());
        QByteArray units(text.size() * 2, Qt::Uninitialized);
        qToBigEndian<char16_t>(text.utf16(), text.size(), units.data());
        return add(marker(0x6, text.size()) + units);
    }
    int array(const QList<int> &items) { return add(marker(0xA, items.size(), items)); }
    int dictionary(const QList<int> &keys, const QList<int> &values)
    {
        return add(marker(0xD, keys.size(), keys + values));
    }

    QByteArray finish(int top) const
    {
        QByteArray file("bplist00"), table;
        for (const QByteArray &object : objects) {
            table += bigEndian(quint64(file.size()), 4);
            file += object;
        }
        return file + table + QByteArray(6, '\0') + "\x04\x02" + bigEndian(quint64(objects.size()), 8)
               + bigEndian(quint64(top), 8) + bigEndian(quint64(file.size()), 8);
    }
};
