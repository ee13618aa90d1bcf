// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "LibraryStatus.h"

#include <functional>

// Reads the library the locator finds, as the next song list will, and counts what the handset would get from it
// and which of those songs' files cannot be found, after the copied-library remap. Slow for a large library: call
// it on a worker.
namespace LibrarySurvey {

// `previous` is reused, read time aside, when the same file, unchanged, with the same music folder, was read for
// it. `stopRequested` is asked now and then; once it says yes, what is known so far comes back.
LibraryStatus read(const QString &homePath, const QString &userMusicFolder, const LibraryStatus &previous = {},
                   const std::function<bool()> &stopRequested = {});

} // namespace LibrarySurvey
