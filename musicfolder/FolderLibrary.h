// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "TrackTags.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

#include <optional>

// The iTunes library that stands for a music folder, as it is written to its file and read back from it. The file
// is the only record of the folder: a rescan takes each path's IDs, dates and tags from it.
struct FolderLibrary
{
    struct Track
    {
        QByteArray path; // absolute, UTF-8
        qint64 size = 0;
        qint64 modified = 0; // seconds since the epoch
        int trackId = 0;
        QString persistentId;
        QDateTime dateAdded;
        TrackTags tags;
    };

    struct Playlist
    {
        QString name;
        QList<int> trackIds;
        bool operator==(const Playlist &) const = default;
    };

    QByteArray folder; // absolute, UTF-8
    QString persistentId;
    QList<Track> tracks; // in path order
    QList<Playlist> playlists; // besides the master playlist "Library", which holds every track

    // The library written to `path` before, or nothing where there is none or it is not one of ours.
    static std::optional<FolderLibrary> read(const QString &path);
    // The text of the file: an XML property list as iTunes writes its library, in UTF-8.
    QByteArray toXml() const;

    // Whether the file would say something else than `other`'s; tags are taken to follow the size and the date.
    bool sameFilesAs(const FolderLibrary &other) const;

    // The URL iTunes writes for a path ("file:///…", the path's bytes percent-encoded), and back.
    static QByteArray fileUrl(QByteArrayView path);
    static std::optional<QByteArray> pathOfFileUrl(QByteArrayView url);

    // A new random ID, as iTunes makes them: 16 hexadecimal digits.
    static QString newPersistentId();
};
