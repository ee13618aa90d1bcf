// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "TrackIndex.h"

#include <QByteArrayList>
#include <QDateTime>
#include <QString>

// A finished song list: the body to send and the index of the songs it lists; or why there is none. A value:
// copies share the data.
struct SongList
{
    // The body in pieces, to be sent one after another. Empty when there is no list.
    QByteArrayList body;
    TrackIndex index;
    // The reason to give the handset when there is no list. Null when there is one, and when making it failed in
    // a way that is not the handset's to hear about (then no answer is made up).
    QString failure;
    // The library file the list was made from and its top-level "Music Folder": a library copied from another
    // computer still finds its songs below where that folder now lies.
    QString libraryPath;
    QString musicFolder;
    // The tracks of the library, listed or not.
    qsizetype trackCount = 0;
    // The library file's size and modification time as they were just before it was read.
    qint64 librarySize = -1;
    QDateTime libraryModified;

    bool isListed() const { return !body.isEmpty(); }
    qint64 bodySize() const
    {
        qint64 size = 0;
        for (const QByteArray &piece : body)
            size += piece.size();
        return size;
    }
};
