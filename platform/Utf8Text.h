// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArrayView>
#include <QString>

// UTF-8 bytes as text, every character kept. QString::fromUtf8() drops a leading U+FEFF as a byte-order mark; in a
// value, a key or a path it is a character like any other, and dropping it would change what the text says.
QString textFromUtf8(QByteArrayView utf8);
