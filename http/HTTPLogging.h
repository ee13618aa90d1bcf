// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QLoggingCategory>

// What the server saw of its peers: each one refused or timed out, each song list and download with its size and
// time. Silent unless asked for, with --verbose or QT_LOGGING_RULES="pellisor.http.info=true".
Q_DECLARE_LOGGING_CATEGORY(lcHttp)
