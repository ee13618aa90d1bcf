// SPDX-License-Identifier: GPL-3.0-or-later
#include "SongFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Opens without blocking: a FIFO or device at a song's path must not stall the whole server.
std::unique_ptr<QFile> openRegularFile(const QString &path)
{
    const int descriptor = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (descriptor < 0)
        return nullptr;
    struct stat status = {};
    if (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode) || status.st_size == 0) {
        ::close(descriptor);
        return nullptr;
    }
    auto file = std::make_unique<QFile>();
    if (!file->open(descriptor, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(descriptor);
        return nullptr;
    }
    return file;
}

} // namespace

namespace SongFile {

std::unique_ptr<QFile> open(const QString &path)
{
    for (const QString &candidate : {path, path.normalized(QString::NormalizationForm_C),
                                     path.normalized(QString::NormalizationForm_D)}) {
        if (std::unique_ptr<QFile> file = openRegularFile(candidate))
            return file;
    }
    return nullptr;
}

} // namespace SongFile
