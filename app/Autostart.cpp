// SPDX-License-Identifier: GPL-3.0-or-later
#include "Autostart.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

namespace {

// The Exec key's quoting: inside double quotes '"', '`', '$' and '\' take a backslash, and then every backslash
// is escaped once more, as in any text value ("\\$" for '$', four for '\'); '%' would start a field code.
std::optional<QString> execValue(const QString &program)
{
    if (program.contains(u'\n') || program.contains(u'\r') || program.contains(u'\t'))
        return std::nullopt;
    QString quoted;
    for (const QChar c : program) {
        if (c == u'"' || c == u'`' || c == u'$')
            quoted += QLatin1StringView("\\\\");
        else if (c == u'\\')
            quoted += QLatin1StringView("\\\\\\");
        else if (c == u'%')
            quoted += u'%';
        quoted += c;
    }
    return u'"' + quoted + u'"';
}

// An installed Pellisor is started by name, as its menu entry starts it; only a copy that PATH does not lead to, such
// as a build folder's, is started by its path.
bool isInstalled(const QString &program)
{
    const QString canonical = QFileInfo(program).canonicalFilePath();
    if (canonical.isEmpty())
        return false;
    if (canonical == QFileInfo(QStringLiteral("/usr/bin/pellisor")).canonicalFilePath())
        return true;
    const QString onPath = QStandardPaths::findExecutable(QStringLiteral("pellisor"));
    return !onPath.isEmpty() && QFileInfo(onPath).canonicalFilePath() == canonical;
}

} // namespace

namespace Autostart {

QString entryPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
           + QStringLiteral("/autostart/pellisor.desktop");
}

bool isEnabled()
{
    return QFileInfo::exists(entryPath());
}

bool setEnabled(bool enabled, const QString &program, QString *error)
{
    const QString path = entryPath();
    if (!enabled) {
        if (QFile::remove(path) || !QFileInfo::exists(path))
            return true;
        *error = QStringLiteral("%1 could not be removed.").arg(path);
        return false;
    }
    const std::optional<QString> exec = isInstalled(program) ? QStringLiteral("pellisor") : execValue(program);
    if (!exec) {
        *error = QStringLiteral("Pellisor's own path, %1, cannot be written in an autostart entry.").arg(program);
        return false;
    }
    const QByteArray entry = QStringLiteral("[Desktop Entry]\n"
                                            "Type=Application\n"
                                            "Name=Pellisor\n"
                                            "Comment=Serve your iTunes music library to your BlackBerry handset\n"
                                            "Exec=%1\n"
                                            "Icon=pellisor\n"
                                            "Terminal=false\n"
                                            "X-GNOME-Autostart-enabled=true\n")
                                 .arg(*exec)
                                 .toUtf8();
    QSaveFile file(path);
    if (!QDir().mkpath(QFileInfo(path).absolutePath()) || !file.open(QIODevice::WriteOnly)
        || file.write(entry) != entry.size() || !file.commit()) {
        *error = QStringLiteral("%1 could not be written: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

} // namespace Autostart
