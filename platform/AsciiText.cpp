// SPDX-License-Identifier: GPL-3.0-or-later
#include "AsciiText.h"

#include <QString>

char toLossyAscii(QChar c)
{
    if (c.unicode() < 0x80)
        return char(c.unicode());
    if (c.decompositionTag() == QChar::Canonical) {
        // The first character of a canonical decomposition is the base letter; decompose again for letters
        // that carry two marks (ệ → ẹ → e).
        QChar base = c.decomposition().at(0);
        while (base.unicode() >= 0x80 && base.decompositionTag() == QChar::Canonical)
            base = base.decomposition().at(0);
        if (base.unicode() < 0x80 && base.isLetter())
            return char(base.unicode());
    }
    return '?';
}

QByteArray toLossyAscii(QStringView text)
{
    QByteArray bytes(text.size(), Qt::Uninitialized);
    char *out = bytes.data();
    for (const QChar c : text)
        *out++ = toLossyAscii(c);
    return bytes;
}
