// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Which tracks a handset is given. Plain C++, so that the library generator and the soak test, which link no Qt,
// count songs by the very rule the server lists them by.

#include <string_view>

namespace PlayableTrack {

// A file on this computer: older libraries name the local host, newer ones leave the host empty.
inline constexpr std::string_view localhostPrefix = "file://localhost/";
inline constexpr std::string_view emptyHostPrefix = "file:///";

// The formats the handsets play, tested in this order; only the first occurrence of each in a Location counts.
inline constexpr std::string_view extensions[] = {".m4a", ".wma", ".wav", ".mp3", ".aac"};

constexpr bool isLocalFile(std::string_view location)
{
    return location.starts_with(localhostPrefix) || location.starts_with(emptyHostPrefix);
}

// Not disabled, a local file, and a playable extension first found at the end of its Location (UTF-8, as the
// library spells it: the prefixes and extensions are ASCII, so the bytes decide as the text would).
constexpr bool isPlayable(bool disabled, std::string_view location)
{
    if (disabled || !isLocalFile(location))
        return false;
    for (const std::string_view extension : extensions) {
        // The cheap test first; the search skips to each '.' at once.
        if (location.ends_with(extension) && location.find(extension) == location.size() - extension.size())
            return true;
    }
    return false;
}

} // namespace PlayableTrack
