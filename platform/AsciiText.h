// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QChar>
#include <QStringView>

// Lossy conversion to ASCII, one byte per UTF-16 code unit, so that a length counted in code units is also the
// number of bytes sent: ASCII stays, a Latin letter with a diacritic becomes its base letter (é → e),
// anything else becomes '?'.
QByteArray toLossyAscii(QStringView text);
char toLossyAscii(QChar c);
