// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "PropertyList.h"
#include "TrackIndex.h"

#include <QByteArray>
#include <QByteArrayList>
#include <QSet>
#include <QString>

// The body of a song list: every track of the library that the handset can play, or only those of its device
// playlist, one line each in the library's order. Pure: library in, text out, with the track index it fills (the IDs
// it writes, each with its Location).
class SongListBuilder
{
public:
    // "blackberry" for the device value "bb10" exactly, "playbook" for anything else or nothing.
    static QString wantedPlaylistName(const QString &deviceValue);

    // The first playlist whose lower-cased name is the wanted one; for "blackberry", else the first
    // "playbook". Absent when there is none.
    static PlistValue choosePlaylist(const PlistValue &playlists, const QString &wantedName);

    // The track ID texts of the playlist's items. Empty means no filter.
    static QSet<QString> playlistFilter(const PlistValue &playlist);

    // The track's ID the way the list and the index write it: its "Track ID" as a 32-bit decimal.
    static QString trackIdText(const PlistValue &value);

    // The body, in the ASCII it is sent in. Adds the listed songs to `index`.
    static QByteArray build(const PlistValue &library, const QString &deviceValue, TrackIndex &index);
    // The same in pieces, to be sent one after another without being joined, from a library that nothing reads
    // again: the memory under the text of each track goes back to the system as soon as the track is listed, so the
    // list takes little more memory than the library read.
    static QByteArrayList buildPieces(PropertyList &&library, const QString &deviceValue, TrackIndex &index);
};
