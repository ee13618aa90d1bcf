// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Without a desktop (no DISPLAY, no WAYLAND_DISPLAY) Pellisor serves all the same, its window off screen. What a
// desktop session would give Qt, such a run gives it here, so that Qt has nothing to warn about on every start.
namespace HeadlessPlatform {

// Before the application is made: the offscreen platform where there is no display, and a runtime folder of the
// user's own where the session names none (XDG_RUNTIME_DIR).
void prepare();
// Whether the window is drawn where nobody can see it. Qt's offscreen platform cannot take a window's size limits,
// and warns at each change of them (each new download row): such a window is best left unshown until asked for.
bool isOffscreen();

} // namespace HeadlessPlatform
