// SPDX-License-Identifier: GPL-3.0-or-later
#include "LibraryMenu.h"

#include "Autostart.h"
#include "LibraryLocator.h"
#include "LibraryLogging.h"
#include "LibraryPreferences.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QMenu>

LibraryMenu::LibraryMenu(QMenu *menu, QAction *before, QWidget *dialogParent, const QString &homePath)
    : QObject(menu)
    , m_homePath(homePath)
    , m_choice(homePath)
    , m_dialogParent(dialogParent)
{
    auto *chooseLibrary = new QAction(tr("Choose &Library…"), this);
    connect(chooseLibrary, &QAction::triggered, this, &LibraryMenu::openLibraryDialog);
    auto *useDefault = new QAction(tr("Use &Default Library"), this);
    connect(useDefault, &QAction::triggered, this, &LibraryMenu::useDefaultLibrary);
    auto *chooseMusicFolder = new QAction(tr("Choose &Music Folder…"), this);
    connect(chooseMusicFolder, &QAction::triggered, this, &LibraryMenu::openMusicFolderDialog);
    auto *serveFolder = new QAction(tr("Serve a Music &Folder…"), this);
    connect(serveFolder, &QAction::triggered, this, [this] {
        const QString path = QFileDialog::getExistingDirectory(m_dialogParent, tr("Serve a Music Folder"),
                                                               dialogFolder({}));
        if (!path.isEmpty())
            emit serveFolderRequested(path);
    });
    auto *rescan = new QAction(tr("&Rescan Now"), this);
    connect(rescan, &QAction::triggered, this, &LibraryMenu::rescanRequested);
    m_startAtLogin = new QAction(tr("&Start at Login"), this);
    m_startAtLogin->setCheckable(true);
    m_startAtLogin->setChecked(Autostart::isEnabled());
    connect(m_startAtLogin, &QAction::triggered, this, &LibraryMenu::setStartAtLogin);

    menu->insertActions(before, {chooseLibrary, useDefault, chooseMusicFolder, serveFolder, rescan});
    menu->insertSeparator(before);
    menu->insertAction(before, m_startAtLogin);
    menu->insertSeparator(before);
}

void LibraryMenu::openLibraryDialog()
{
    const QString path = QFileDialog::getOpenFileName(
        m_dialogParent, tr("Choose an iTunes Library"),
        dialogFolder(QFileInfo(LibraryLocator::libraryPath(m_homePath)).path()),
        tr("iTunes libraries (*.xml);;All files (*)"));
    if (!path.isEmpty())
        chooseLibrary(path);
}

void LibraryMenu::openMusicFolderDialog()
{
    const QString path = QFileDialog::getExistingDirectory(m_dialogParent, tr("Choose the Folder of Your Songs"),
                                                           dialogFolder(m_choice.musicFolder()));
    if (!path.isEmpty())
        chooseMusicFolder(path);
}

// Where the user is likely to look: the folder given, else their music, else their home; never the working folder.
QString LibraryMenu::dialogFolder(const QString &current) const
{
    for (const QString &folder : {current, m_homePath + QStringLiteral("/Music")}) {
        if (!folder.isEmpty() && QFileInfo(folder).isDir())
            return folder;
    }
    return m_homePath;
}

bool LibraryMenu::chooseLibrary(const QString &path)
{
    QString error;
    const bool ok = m_choice.chooseLibrary(path, &error);
    if (!ok && LibraryPreferences::isUnreadable(m_homePath)) {
        report(false, {},
               tr("%1 was not chosen: Pellisor records the library in %2, which cannot be read. Move that file "
                  "aside (it is renamed, not deleted) and the library is chosen.")
                   .arg(QFileInfo(path).fileName(), LibraryPreferences::preferencesFilePath(m_homePath)));
        emit preferencesInTheWay(path);
        return false;
    }
    report(ok, tr("Chosen: the next song lists come from this library."),
           tr("The library stays as it was: %1").arg(error));
    if (ok)
        emit libraryReplaced();
    return ok;
}

void LibraryMenu::moveAsideAndChoose(const QString &path)
{
    QString error;
    const std::optional<QString> aside = LibraryPreferences::moveAside(m_homePath, &error);
    if (!aside) {
        report(false, {}, tr("The library stays as it was: %1").arg(error));
        return;
    }
    if (chooseLibrary(path))
        emit message(tr("Chosen. The unreadable preference file is now %1.").arg(*aside));
}

bool LibraryMenu::chooseMusicFolder(const QString &path)
{
    QString error;
    const bool ok = m_choice.chooseMusicFolder(path, &error);
    report(ok, tr("Songs of a copied library are also looked for in %1.").arg(m_choice.musicFolder()),
           tr("The music folder stays as it was: %1").arg(error));
    if (ok)
        emit musicFolderChosen(m_choice.musicFolder());
    return ok;
}

void LibraryMenu::useDefaultLibrary()
{
    QString error;
    const bool ok = m_choice.useDefaultLibrary(&error);
    report(ok, tr("Back to the library iTunes records, or the one in its default place."),
           tr("The library stays as it was: %1").arg(error));
    if (ok)
        emit libraryReplaced();
}

void LibraryMenu::setStartAtLogin(bool enabled)
{
    QString error;
    const bool ok = Autostart::setEnabled(enabled, QCoreApplication::applicationFilePath(), &error);
    m_startAtLogin->setChecked(Autostart::isEnabled());
    const QString text = ok ? (enabled ? tr("Pellisor starts when you log in.")
                                       : tr("Pellisor no longer starts when you log in."))
                            : tr("Start at Login stays as it was: %1").arg(error);
    if (ok)
        qCDebug(lcLibrary).noquote() << text;
    else
        qCWarning(lcLibrary).noquote() << text;
    emit startAtLoginMessage(text);
}

bool LibraryMenu::report(bool ok, const QString &done, const QString &error)
{
    if (ok)
        qCDebug(lcLibrary).noquote() << done;
    else
        qCWarning(lcLibrary).noquote() << error;
    emit message(ok ? done : error);
    emit libraryChanged(); // also after a failure: what the window showed may be out of date
    return ok;
}
