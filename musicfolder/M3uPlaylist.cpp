// SPDX-License-Identifier: GPL-3.0-or-later
#include "M3uPlaylist.h"

#include "SongLocation.h"

#include <QDir>
#include <QFile>

QString M3uPlaylist::name(const QByteArray &playlistPath)
{
    const QByteArray fileName = playlistPath.sliced(playlistPath.lastIndexOf('/') + 1);
    return QString::fromUtf8(fileName.left(fileName.lastIndexOf('.')));
}

QList<QByteArray> M3uPlaylist::entries(const QByteArray &playlistPath, const QByteArray &root)
{
    QFile file(QString::fromUtf8(playlistPath));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return entries(file.read(maxFileSize), playlistPath, root);
}

QList<QByteArray> M3uPlaylist::entries(QByteArray text, const QByteArray &playlistPath, const QByteArray &root)
{
    if (text.startsWith("\xEF\xBB\xBF"))
        text.remove(0, 3);
    else if (!playlistPath.toLower().endsWith(".m3u8") && !QByteArrayView(text).isValidUtf8())
        text = QString::fromLatin1(text).toUtf8();
    const QString playlistFolder = QString::fromUtf8(playlistPath.left(playlistPath.lastIndexOf('/')));
    const QByteArray rootPrefix = root.endsWith('/') ? root : root + '/';

    QList<QByteArray> paths;
    for (QByteArray line : text.split('\n')) {
        line = line.trimmed();
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        QString entry;
        if (SongLocation::isLocalFile(line)) {
            const std::optional<QString> path = SongLocation::filePath(QString::fromUtf8(line));
            if (!path)
                continue;
            entry = *path;
        } else {
            entry = QString::fromUtf8(line);
            entry.replace(u'\\', u'/'); // written on Windows
            if (!entry.startsWith(u'/'))
                entry = playlistFolder + u'/' + entry;
        }
        QByteArray path = QDir::cleanPath(entry).toUtf8();
        if (path.startsWith(rootPrefix))
            paths.append(std::move(path));
    }
    return paths;
}
