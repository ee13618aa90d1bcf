// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QIcon>

// The application's icon, for the window, the alert and the tray.
QIcon pellisorIcon();
