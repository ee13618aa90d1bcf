// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QMetaType>
#include <QString>
#include <QStringList>
#include <QThreadPool>

#include <functional>

// One pass over a music folder: the files found, their tags read where they are new or changed, and the library
// written into Pellisor's data folder when it would say something new. Runs on the thread that calls it; tags are
// read on `pool`'s threads as well, all of them at a lower priority, so that the server's event loop never waits.
class MusicFolderScan
{
public:
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
    };

    // Called now and then from any thread with the files whose tags are read so far, and how many are to be read.
    using Progress = std::function<void(int done, int total)>;

    // The file the library of a music folder is written to, in Pellisor's data folder.
    static QString libraryPath();

    static Report run(const QString &folder, const QString &libraryPath, const Progress &progress = {},
                      QThreadPool *pool = QThreadPool::globalInstance());
};

Q_DECLARE_METATYPE(MusicFolderScan::Report)
