// SPDX-License-Identifier: GPL-3.0-or-later
#include "HeadlessPlatform.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace HeadlessPlatform {

void prepare()
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY")
        && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");

    if (!qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR"))
        return;
    // Where Qt would fall back to, per user rather than per login name (which a bare environment may lack). One left
    // by an earlier run is taken again; Qt itself checks that it is the user's own and private.
    const QByteArray folder = QFile::encodeName(QDir::tempPath()) + "/runtime-" + QByteArray::number(::getuid());
    if (::mkdir(folder.constData(), 0700) == 0 || errno == EEXIST)
        qputenv("XDG_RUNTIME_DIR", folder);
}

bool isOffscreen()
{
    return QGuiApplication::platformName() == QLatin1StringView("offscreen");
}

} // namespace HeadlessPlatform
