#include "LibraryLocator.h"

#include "EndpointError.h"
#include "LibraryPreferences.h"

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

PropertyList LibraryLocator::load(const QString &homePath)
{
    const QString path = libraryPath(homePath);
    if (path.isEmpty() || !QFileInfo::exists(path))
        throw EndpointError(notFoundReason);
    std::optional<PropertyList> library = PropertyList::readFile(path);
    if (!library)
        throw EndpointError(QStringLiteral("Unable to load iTunes Library XML file. (%1)").arg(path));
    return std::move(*library);
}
