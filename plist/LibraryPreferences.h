#pragma once

#include <QString>

#include <optional>

// iTunes records the library files it used recently in its "com.apple.iApps" preferences, under
// "iTunesRecentDatabasePaths". On this platform the preferences are the property-list file that macOS keeps
// for that domain, below the given home folder. It is read afresh on every call.
class LibraryPreferences
{
public:
    static QString preferencesFilePath(const QString &homePath);

    // Element 0 of "iTunesRecentDatabasePaths", or nothing when there is no preference file, no such key, the
    // value is not an array or the array is empty. An element 0 that is not text comes back empty.
    static std::optional<QString> recentDatabasePath(const QString &homePath);
};
