#pragma once

#include "PropertyList.h"
#include "TrackIndex.h"

#include <QByteArray>
#include <QByteArrayList>
#include <QSet>
#include <QString>

// The body of a song list: every track of the library that the handset can play, or only those of its device
// playlist, one line each in the library's order. Pure: library in, text out, with the track index it fills (and,
// for a library that is used up, its memory given back as it goes).
class SongListBuilder
{
public:
    // The index the list fills: the IDs it writes, each with its Location.
    using TrackIndex = ::TrackIndex;

    // "blackberry" for the device value "bb10" exactly, "playbook" for anything else or nothing.
    static QString wantedPlaylistName(const QString &deviceValue);

    // The first playlist whose lower-cased name is the wanted one; for "blackberry", else the first
    // "playbook". Absent when there is none.
    static PlistValue choosePlaylist(const PlistValue &playlists, const QString &wantedName);

    // The track ID texts of the playlist's items. Empty means no filter.
    static QSet<QString> playlistFilter(const PlistValue &playlist);

    // Not disabled, a local file, with one of the extensions the handsets play.
    static bool isPlayable(const PlistValue &track);

    // The track's ID the way the list and the index write it: its "Track ID" as a 32-bit decimal.
    static QString trackIdText(const PlistValue &value);

    // What becomes of the library once its list is built. UsedUp: nothing reads it again, so the memory under the
    // text of each track goes back to the system as soon as the track is listed, and the list takes little more
    // memory than the library read.
    enum class Afterwards { Kept, UsedUp };

    // The body, in the ASCII it is sent in. Adds the listed songs to `index`.
    static QByteArray build(const PlistValue &library, const QString &deviceValue, TrackIndex &index);
    // The same in pieces, to be sent one after another without being joined.
    static QByteArrayList buildPieces(const PlistValue &library, const QString &deviceValue, TrackIndex &index,
                                      Afterwards afterwards = Afterwards::Kept);

    // "&", ">" and "<" as entities ("&" first), then white space trimmed from both ends.
    static QString xmlEncode(const QString &text);
};
