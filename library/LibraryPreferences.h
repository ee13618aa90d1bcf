// SPDX-License-Identifier: GPL-3.0-or-later
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

    // What choosing a library changed in "iTunesRecentDatabasePaths", so that exactly that can be undone: the
    // path put first, and the place it held before (-1: it was not there, so it was added).
    struct RecordedLibrary
    {
        QString path;
        qsizetype previousIndex = -1;
    };

    // Puts `libraryPath` first in "iTunesRecentDatabasePaths", as iTunes does when it opens a library, after
    // undoing `earlier` (the previous choice). The file is created as XML when there is none, or rewritten as XML
    // keeping every other key and entry; it is replaced whole, never left half written. An existing file that
    // cannot be read is left as it is. Returns what to undo later, or nothing with the reason in `error`.
    static std::optional<RecordedLibrary> recordLibrary(const QString &homePath, const QString &libraryPath,
                                                        const std::optional<RecordedLibrary> &earlier,
                                                        QString *error);
    // Undoes recordLibrary(): the path leaves the array, or goes back to where it was; every other entry,
    // iTunes's own included, stays. False with the reason in `error` when the file could not be rewritten.
    static bool forgetLibrary(const QString &homePath, const RecordedLibrary &recorded, QString *error);

    // There is something at the preference file's path that cannot be read as a property list (a corrupt file, a
    // folder), so no choice can be recorded until it goes.
    static bool isUnreadable(const QString &homePath);
    // Renames that something beside itself, to a name nothing has yet; never deletes or overwrites anything. The new
    // path, or nothing with the reason in `error`.
    static std::optional<QString> moveAside(const QString &homePath, QString *error);
};
