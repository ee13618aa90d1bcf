// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// Starting Pellisor when the user logs in, as freedesktop.org desktops do it: an entry in the autostart folder
// ($XDG_CONFIG_HOME/autostart, ~/.config/autostart by default).
namespace Autostart {

QString entryPath();
bool isEnabled();
// Writes an entry that starts `program` (by name when it is the pellisor found on PATH), or removes it. False with
// the reason in `error`.
bool setEnabled(bool enabled, const QString &program, QString *error);

} // namespace Autostart
