// SPDX-License-Identifier: GPL-3.0-or-later
#include "SystemLog.h"

#include <QByteArray>

#include <cstdio>
#include <syslog.h>

void systemLog(const QString &line)
{
    static const bool opened = [] {
        openlog("pellisor", LOG_PID, LOG_USER);
        return true;
    }();
    Q_UNUSED(opened);

    const QByteArray text = line.toUtf8();
    std::fprintf(stderr, "%s\n", text.constData());
    std::fflush(stderr);
    syslog(LOG_ERR, "%s", text.constData());
}
