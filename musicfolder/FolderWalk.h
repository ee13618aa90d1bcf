// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QList>

// Every regular file below a folder, found with the bytes of its path as the file system holds them: a name that
// is not UTF-8 cannot be written into a library without changing it, so it is left out and counted instead.
// Symbolic links are followed only to files inside the folder; a link to a folder is not followed, since a folder
// inside is walked anyway and one outside is not ours to serve.
class FolderWalk
{
public:
    struct File
    {
        QByteArray path; // absolute, UTF-8
        qint64 size = 0;
        qint64 modified = 0; // seconds since the epoch, as a library's dates keep them
    };

    struct Result
    {
        QByteArray root; // the folder's real path, links resolved
        QString error;   // why the folder itself cannot be read; nothing else is valid then
        QList<File> files;     // in path order
        QList<File> playlists; // .m3u and .m3u8 files, in path order
        QList<QByteArray> folders; // every folder entered, the root first
        int nonUtf8Names = 0;
        int unreadable = 0;       // folders that could not be opened, files that could not be examined
        int linksNotFollowed = 0; // broken, looping, or pointing outside the folder
    };

    // `threads`: how many list folders at once, this one included.
    static Result walk(const QString &folder, int threads = 1);
};
