// SPDX-License-Identifier: GPL-3.0-or-later
#include "AppTextFileResponse.h"
#include "GetSong.h"
#include "GetSongListResponse.h"

// Every endpoint registers before main runs, all from this one file so that their order is defined: each goes
// in front of those of equal priority registered before it, so the registry consults them in the reverse
// order of these lines (GetSong first), and the base class, which is in the registry from the start, last.
static const bool endpointsRegistered = [] {
    AppTextFileResponse::load();
    GetSongListResponse::load();
    GetSong::load();
    return true;
}();
