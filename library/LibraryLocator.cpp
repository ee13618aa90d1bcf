// SPDX-License-Identifier: GPL-3.0-or-later
#include "LibraryLocator.h"

#include "LibraryError.h"
#include "LibraryLogging.h"
#include "LibraryPreferences.h"

#include <QElapsedTimer>
#include <QFileInfo>

namespace {

const QString notFoundReason = QStringLiteral("Couldn't find iTunes Library XML file. Do you have iTunes installed?");

} // namespace

QString LibraryLocator::libraryPath(const QString &homePath)
{
    QString path = LibraryPreferences::recentDatabasePath(homePath).value_or(defaultLibraryPath);
    // Only the first character counts: "~user/…" becomes the home folder followed by "user/…".
    if (path.startsWith(u'~'))
        path.replace(0, 1, homePath);
    return path;
}

PropertyList LibraryLocator::getSongDictionary(const QString &homePath, const std::atomic<bool> *stop)
{
    const QString path = libraryPath(homePath);
    if (path.isEmpty() || !QFileInfo::exists(path))
        throw LibraryError(notFoundReason);
    QElapsedTimer timer;
    timer.start();
    std::optional<PropertyList> library = PropertyList::readFile(path, stop);
    if (!library)
        throw LibraryError(QStringLiteral("Unable to load iTunes Library XML file. (%1)").arg(path));
    qCInfo(lcLibrary, "read %s: %lld tracks in %lld ms", qUtf8Printable(path),
           qlonglong(library->root().value(QLatin1StringView("Tracks")).count()), qlonglong(timer.elapsed()));
    return std::move(*library);
}
