// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QLoggingCategory>

// What the library did: each read of the library file (tracks, time) and each song list made from it. Silent
// unless asked for, with --verbose or QT_LOGGING_RULES="pellisor.library.info=true".
Q_DECLARE_LOGGING_CATEGORY(lcLibrary)
