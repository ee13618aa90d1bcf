#include "LibraryPreferences.h"

#include "PropertyList.h"

QString LibraryPreferences::preferencesFilePath(const QString &homePath)
{
    return homePath + QStringLiteral("/Library/Preferences/com.apple.iApps.plist");
}

std::optional<QString> LibraryPreferences::recentDatabasePath(const QString &homePath)
{
    const std::optional<PropertyList> preferences = PropertyList::readFile(preferencesFilePath(homePath));
    if (!preferences)
        return std::nullopt;
    const PlistValue paths = preferences->root().value(QLatin1StringView("iTunesRecentDatabasePaths"));
    if (!paths.isArray() || paths.count() == 0)
        return std::nullopt;
    return paths.at(0).toString();
}
