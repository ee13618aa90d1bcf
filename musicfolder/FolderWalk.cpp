// SPDX-License-Identifier: GPL-3.0-or-later
#include "FolderWalk.h"

#include <QFile>
#include <QSet>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>

namespace {

// Asked of every file of the folder: no copy of the name.
bool isPlaylistName(QByteArrayView name)
{
    const auto endsWith = [name](QByteArrayView suffix) {
        return name.size() >= suffix.size() && qstrnicmp(name.data() + name.size() - suffix.size(), suffix.size(),
                                                         suffix.data(), suffix.size()) == 0;
    };
    return endsWith(".m3u") || endsWith(".m3u8");
}

QByteArray realPath(const QByteArray &path)
{
    std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.constData(), nullptr), &std::free);
    return resolved ? QByteArray(resolved.get()) : QByteArray();
}

bool isInside(const QByteArray &path, const QByteArray &root)
{
    return path.startsWith(root) && (root.endsWith('/') || path.size() == root.size() || path[root.size()] == '/');
}

struct Closer
{
    void operator()(DIR *dir) const { ::closedir(dir); }
};

} // namespace

FolderWalk::Result FolderWalk::walk(const QString &folder)
{
    Result result;
    result.root = realPath(QFile::encodeName(folder));
    struct stat rootStat {};
    if (result.root.isEmpty() || ::stat(result.root.constData(), &rootStat) != 0 || !S_ISDIR(rootStat.st_mode)) {
        result.error = QStringLiteral("There is no folder at %1.").arg(folder);
        return result;
    }

    // A folder is entered once, however it is reached (bind mounts can make a loop without any link).
    QSet<QPair<dev_t, ino_t>> entered{{rootStat.st_dev, rootStat.st_ino}};
    QList<QByteArray> pending{result.root};
    bool atRoot = true;
    while (!pending.isEmpty()) {
        const QByteArray dirPath = pending.takeLast();
        std::unique_ptr<DIR, Closer> dir(::opendir(dirPath.constData()));
        if (!dir) {
            if (atRoot) {
                result.error = QStringLiteral("The folder %1 cannot be read: %2.")
                                   .arg(folder, QString::fromLocal8Bit(std::strerror(errno)));
                return result;
            }
            ++result.unreadable;
            continue;
        }
        atRoot = false;
        result.folders.append(dirPath);
        const int dirFd = ::dirfd(dir.get());
        const QByteArray prefix = dirPath.endsWith('/') ? dirPath : dirPath + '/';
        while (const dirent *entry = ::readdir(dir.get())) {
            const QByteArrayView name(entry->d_name);
            if (name == "." || name == "..")
                continue;
            if (!name.isValidUtf8()) {
                ++result.nonUtf8Names;
                continue;
            }
            QByteArray path;
            path.reserve(prefix.size() + name.size());
            path.append(prefix).append(name);
            struct stat st {};
            if (::fstatat(dirFd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
                ++result.unreadable; // vanished since it was listed, or not ours to look at
                continue;
            }
            if (S_ISLNK(st.st_mode)) {
                const QByteArray target = realPath(path);
                if (target.isEmpty() || !isInside(target, result.root) || ::stat(target.constData(), &st) != 0) {
                    ++result.linksNotFollowed;
                    continue;
                }
                if (!S_ISREG(st.st_mode)) {
                    ++result.linksNotFollowed;
                    continue;
                }
            }
            if (S_ISDIR(st.st_mode)) {
                if (!entered.contains({st.st_dev, st.st_ino})) {
                    entered.insert({st.st_dev, st.st_ino});
                    pending.append(std::move(path));
                }
            } else if (S_ISREG(st.st_mode)) {
                File file{std::move(path), qint64(st.st_size), qint64(st.st_mtim.tv_sec)};
                (isPlaylistName(name) ? result.playlists : result.files).append(std::move(file));
            }
        }
    }
    const auto byPath = [](const File &a, const File &b) { return a.path < b.path; };
    std::sort(result.files.begin(), result.files.end(), byPath);
    std::sort(result.playlists.begin(), result.playlists.end(), byPath);
    return result;
}
