// SPDX-License-Identifier: GPL-3.0-or-later
#include "AppIcon.h"

QIcon pellisorIcon()
{
    // A bitmap at run time: Debian's Qt reads SVG only with an extra module the application does not need.
    return QIcon(QStringLiteral(":/pellisor/pellisor.png"));
}
