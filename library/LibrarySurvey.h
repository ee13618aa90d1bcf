// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "LibraryStatus.h"
#include "SongList.h"

#include <atomic>

// Reads the library the locator finds, as the next song list will, and counts what the handset would get from it
// and which of those songs' files cannot be found, after the copied-library remap. Slow for a large library: call
// it on a worker. Once `stop`, when given, turns true (from any thread), it gives up soon, with a status that must not be shown.
namespace LibrarySurvey {

// `previous` is reused, read time aside, when the same file, unchanged, with the same music folder, was read for
// it.
LibraryStatus read(const QString &homePath, const QString &userMusicFolder, const LibraryStatus &previous = {},
                   const std::atomic<bool> *stop = nullptr);

// The same from a song list just made, without reading the library again: its songs are those of the list. When the
// list failed, or the library has been changed for another since, the library is read as above.
LibraryStatus fromList(const SongList &list, const QString &homePath, const QString &userMusicFolder,
                       const LibraryStatus &previous = {}, const std::atomic<bool> *stop = nullptr);

} // namespace LibrarySurvey
