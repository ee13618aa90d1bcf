// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QStringList>

// Every address of this computer as text (IPv4 and IPv6 alike), in the order the system lists them.
QStringList hostAddresses();

// One address of this computer as the system chooses it, or an empty string when it has none.
QString primaryHostAddress();
