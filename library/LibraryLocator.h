// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "PropertyList.h"

#include <QString>

// Finds and loads the iTunes library: the first of the recently used library files that iTunes records in its
// preferences, or else "~/Music/iTunes/iTunes Music Library.xml". Read afresh on every call; nothing is cached.
class LibraryLocator
{
public:
    static inline const QString defaultLibraryPath = QStringLiteral("~/Music/iTunes/iTunes Music Library.xml");

    // The library file's path, with a leading "~" replaced by the home folder.
    static QString libraryPath(const QString &homePath);

    // The library, or LibraryError with the reason the handset is told (also once `stop` turns true mid-read).
    static PropertyList getSongDictionary(const QString &homePath, const std::atomic<bool> *stop = nullptr);
};
