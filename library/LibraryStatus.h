// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDateTime>
#include <QString>

// What the window says about the library the next song list reads. A plain value, made on a worker.
struct LibraryStatus
{
    enum class State {
        Unknown,    // not read yet
        NotFound,   // no file where the locator looks
        NotAFile,   // a folder, or something else that is not a file
        Unreadable, // not a property list Pellisor can read
        Read,
    };

    QString path;
    State state = State::Unknown;
    qsizetype tracks = 0;
    qsizetype songs = 0; // what the handset's list holds
    qsizetype missingFiles = 0; // of those songs, how many have no file here, not even in a copied music folder
    QDateTime readAt{};

    // What it was read from, so that a later look can tell whether reading it again could change anything.
    qint64 fileSize = -1;
    QDateTime fileModified{};
    QString userMusicFolder{};
};
