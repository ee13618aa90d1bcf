// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "LibraryPreferences.h"

#include <QSettings>
#include <QString>

#include <optional>

// The library and the music folder the user chose, remembered across runs. The library goes where the locator
// already looks, the iTunes preference; what that changed, and the music folder, go into Pellisor's own settings.
class LibraryChoice
{
public:
    explicit LibraryChoice(QString homePath);

    // Why `path` cannot be chosen (no such file, a folder), or empty.
    static QString libraryFileProblem(const QString &path);
    static QString musicFolderProblem(const QString &path);

    // False with the reason in `error`; nothing changes then.
    bool chooseLibrary(const QString &path, QString *error);
    // Undoes the choice: the locator finds what it found before it, iTunes's own record or the default place.
    bool useDefaultLibrary(QString *error);
    bool chooseMusicFolder(const QString &path, QString *error);

    // The library Pellisor recorded, or empty when the locator's own choice stands.
    QString chosenLibrary() const;
    QString musicFolder() const;

private:
    std::optional<LibraryPreferences::RecordedLibrary> recorded() const;
    bool settingsWritable(QString *error) const;
    bool saved(QString *error);

    const QString m_homePath;
    QSettings m_settings;
};
