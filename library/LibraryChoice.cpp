// SPDX-License-Identifier: GPL-3.0-or-later
#include "LibraryChoice.h"

#include <QFileInfo>

namespace {

const QString chosenKey = QStringLiteral("library/chosen");
const QString previousIndexKey = QStringLiteral("library/previousIndex");
const QString musicFolderKey = QStringLiteral("musicFolder");

} // namespace

LibraryChoice::LibraryChoice(QString homePath)
    : m_homePath(std::move(homePath))
    , m_settings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("pellisor"), QStringLiteral("pellisor"))
{
}

QString LibraryChoice::libraryFileProblem(const QString &path)
{
    const QFileInfo file(path);
    if (file.isDir())
        return QStringLiteral("%1 is a folder, not an iTunes library file.").arg(path);
    if (!file.isFile())
        return QStringLiteral("There is no file at %1.").arg(path);
    return {};
}

QString LibraryChoice::musicFolderProblem(const QString &path)
{
    return QFileInfo(path).isDir() ? QString() : QStringLiteral("There is no folder at %1.").arg(path);
}

bool LibraryChoice::chooseLibrary(const QString &path, QString *error)
{
    *error = libraryFileProblem(path);
    if (!error->isEmpty() || !settingsWritable(error)) // or the choice could never be undone
        return false;
    const std::optional<LibraryPreferences::RecordedLibrary> recorded =
        LibraryPreferences::recordLibrary(m_homePath, QFileInfo(path).absoluteFilePath(), this->recorded(), error);
    if (!recorded)
        return false;
    m_settings.setValue(chosenKey, recorded->path);
    m_settings.setValue(previousIndexKey, recorded->previousIndex);
    return saved(error);
}

bool LibraryChoice::useDefaultLibrary(QString *error)
{
    const std::optional<LibraryPreferences::RecordedLibrary> recorded = this->recorded();
    if (!settingsWritable(error))
        return false;
    if (recorded && !LibraryPreferences::forgetLibrary(m_homePath, *recorded, error))
        return false;
    m_settings.remove(chosenKey);
    m_settings.remove(previousIndexKey);
    return saved(error);
}

bool LibraryChoice::chooseMusicFolder(const QString &path, QString *error)
{
    *error = musicFolderProblem(path);
    if (!error->isEmpty())
        return false;
    m_settings.setValue(musicFolderKey, QFileInfo(path).absoluteFilePath());
    return saved(error);
}

QString LibraryChoice::chosenLibrary() const
{
    return m_settings.value(chosenKey).toString();
}

QString LibraryChoice::musicFolder() const
{
    return m_settings.value(musicFolderKey).toString();
}

std::optional<LibraryPreferences::RecordedLibrary> LibraryChoice::recorded() const
{
    const QString path = chosenLibrary();
    if (path.isEmpty())
        return std::nullopt;
    bool isNumber = false;
    const qsizetype previousIndex = m_settings.value(previousIndexKey).toLongLong(&isNumber);
    return LibraryPreferences::RecordedLibrary{path, isNumber ? previousIndex : -1};
}

bool LibraryChoice::settingsWritable(QString *error) const
{
    if (m_settings.isWritable())
        return true;
    *error = QStringLiteral("Pellisor's settings cannot be written to %1.").arg(m_settings.fileName());
    return false;
}

bool LibraryChoice::saved(QString *error)
{
    // A settings file that was not readable (FormatError) is our own, and is written afresh all the same.
    m_settings.sync();
    if (m_settings.status() != QSettings::AccessError)
        return true;
    *error = QStringLiteral("Pellisor's settings could not be written to %1.").arg(m_settings.fileName());
    return false;
}
