// SPDX-License-Identifier: GPL-3.0-or-later
#include "CopiedLibrary.h"

#include "SongLocation.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <optional>

namespace {

struct LocalPath
{
    QString path; // decoded: "/Users/ana/Music/…", "/C:/Users/ana/Music/…"
    bool windows = false;
};

std::optional<LocalPath> localPath(QStringView url)
{
    if (!SongLocation::isLocalFile(url))
        return std::nullopt;
    std::optional<QString> path = SongLocation::filePath(url);
    // "//server/share" after the host is a Windows network share, not a folder of any computer's own disk.
    if (!path || path->startsWith(QLatin1StringView("//")))
        return std::nullopt;
    static const QRegularExpression drive(QStringLiteral("^/[A-Za-z]:(/|$)"));
    return LocalPath{*path, drive.match(*path).hasMatch()};
}

// Below `base` and never outside it: a ".." anywhere refuses the whole path rather than guessing what it meant.
std::optional<QString> below(const QString &base, const QString &rest)
{
    const QStringList segments = rest.split(u'/', Qt::SkipEmptyParts);
    if (segments.isEmpty() || segments.contains(QLatin1StringView("..")))
        return std::nullopt;
    const QString root = QDir::cleanPath(base);
    const QString path = QDir::cleanPath(root + u'/' + segments.join(u'/'));
    if (!path.startsWith(root + u'/') && !(root == QLatin1StringView("/") && path.size() > 1))
        return std::nullopt;
    return path;
}

} // namespace

namespace CopiedLibrary {

QStringList candidatePaths(QStringView location, QStringView musicFolder, const QString &libraryFilePath,
                           const QString &userMusicFolder)
{
    const std::optional<LocalPath> song = localPath(location);
    std::optional<LocalPath> folder = localPath(musicFolder);
    if (!song || !folder)
        return {};
    if (!folder->path.endsWith(u'/'))
        folder->path += u'/';
    // Windows compares file names without regard to letter case, and so does its iTunes.
    const Qt::CaseSensitivity sensitivity = song->windows ? Qt::CaseInsensitive : Qt::CaseSensitive;
    if (!song->path.startsWith(folder->path, sensitivity))
        return {};
    const QString rest = song->path.sliced(folder->path.size());

    QStringList candidates;
    const QString folderName = folder->path.section(u'/', -2, -2);
    if (!folderName.isEmpty() && folderName != QLatin1StringView(".") && folderName != QLatin1StringView("..")) {
        const QString copiedFolder = QFileInfo(libraryFilePath).absolutePath() + u'/' + folderName;
        if (const std::optional<QString> path = below(copiedFolder, rest))
            candidates.append(*path);
    }
    if (!userMusicFolder.isEmpty()) {
        if (const std::optional<QString> path = below(userMusicFolder, rest))
            candidates.append(*path);
    }
    return candidates;
}

} // namespace CopiedLibrary
