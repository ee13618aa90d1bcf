// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "FolderLibrary.h"

#include <QMetaType>
#include <QString>
#include <QStringList>
#include <QThreadPool>

#include <functional>
#include <memory>

// One pass over a music folder: the files found, their tags read where they are new or changed, and the library
// written into Pellisor's data folder when it would say something new. Runs on the thread that calls it; tags are
// read on `pool`'s threads as well, all of them at a lower priority, so that the server's event loop never waits.
class MusicFolderScan
{
public:
    // The library file as this process last wrote or read it. A rescan that finds the file just as it was then takes
    // the previous tracks from here rather than reading them all back (for 10,000 songs, reading costs more than the
    // walk). The file stays the only store: whatever changed it since (a hand edit, a restored copy, another
    // Pellisor) shows in its stamp, and then it is read.
    struct LastLibrary
    {
        struct Stamp
        {
            quint64 device = 0;
            quint64 inode = 0; // a library written anew is a new file, renamed over the old one
            qint64 size = 0;
            qint64 modifiedNs = 0;
            bool operator==(const Stamp &) const = default;
        };

        QString path;
        Stamp stamp;
        FolderLibrary library;
    };

    struct Report
    {
        QString folder;
        QString error; // why the folder could not be scanned; the library written before stands
        int songs = 0;
        int playlists = 0;
        int tagsRead = 0;      // files whose tags were read this time; the rest were known
        int untagged = 0;      // listed under their file name: TagLib could not read them
        int otherFiles = 0;    // not a kind of file the handset plays
        int nonUtf8Names = 0;  // names that cannot be written into a library unchanged
        int unreadable = 0;    // folders and files that could not be opened
        int linksNotFollowed = 0;
        bool written = false;
        qint64 newestModified = 0; // seconds since the epoch: a file still being written is scanned again
        QStringList folders; // every folder the scan entered, for watching
        // The playlists, watched too: a playlist edited in place changes no folder.
        QStringList playlistFiles;
        // What the library file holds after this scan, for the next one; empty where that is not known.
        std::shared_ptr<const LastLibrary> library;
    };

    // Called now and then from any thread with the files whose tags are read so far, and how many are to be read.
    using Progress = std::function<void(int done, int total)>;

    // The file the library of a music folder is written to, in Pellisor's data folder.
    static QString libraryPath();

    // `last`: the previous scan's Report::library, if any.
    static Report run(const QString &folder, const QString &libraryPath,
                      std::shared_ptr<const LastLibrary> last = {}, const Progress &progress = {},
                      QThreadPool *pool = QThreadPool::globalInstance());
};

Q_DECLARE_METATYPE(MusicFolderScan::Report)
