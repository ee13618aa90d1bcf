// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// A playlist file as music players write it: one entry a line, a path relative to the playlist or absolute, or a
// file URL; "#" lines are comments or extended information. UTF-8 for ".m3u8"; a ".m3u" is UTF-8 when it reads as
// such and Latin-1 otherwise, as players disagree.
class M3uPlaylist
{
public:
    // Far beyond any real playlist (100,000 entries of 160 bytes); a larger file is read up to here.
    static constexpr qint64 maxFileSize = 16 * 1024 * 1024;

    // The playlist's name: the file's, without its extension.
    static QString name(const QByteArray &playlistPath);

    // The entries of the playlist at `playlistPath`, as cleaned absolute paths, those outside `root` left out.
    static QList<QByteArray> entries(const QByteArray &playlistPath, const QByteArray &root);
    // The same for the text of a playlist.
    static QList<QByteArray> entries(QByteArray text, const QByteArray &playlistPath, const QByteArray &root);
};
