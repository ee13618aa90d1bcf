// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// The application's one logging channel: one line to standard error and the same line to the system log.
void systemLog(const QString &line);
