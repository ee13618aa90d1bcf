// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

// What a library keeps of a song file's tags and audio, read with TagLib.
struct TrackTags
{
    QString name; // empty where the file has no title
    QString artist;
    QString albumArtist;
    QString album;
    QString genre;
    int year = 0;
    int trackNumber = 0;
    int discNumber = 0;
    int totalTime = 0; // milliseconds
    int bitRate = 0;   // kbit/s
    int sampleRate = 0;
    bool readable = false; // false: TagLib could not make sense of the file, and all else is empty

    // Never throws, whatever the file holds; each text is cut to a length a handset's list can show.
    static TrackTags read(const QByteArray &path);

    // Tags can carry anything; XML 1.0 cannot, so the characters it forbids are left out.
    static QString xmlSafe(QString text);
};
