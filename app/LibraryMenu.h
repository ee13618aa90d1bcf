// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "LibraryChoice.h"

#include <QObject>
#include <QPointer>

class QAction;
class QMenu;
class QWidget;

// The File menu's library items: Choose Library…, Use Default Library, Choose Music Folder…, Start at Login.
// Each says how it went through a signal; nothing it does can end the application.
class LibraryMenu : public QObject
{
    Q_OBJECT

public:
    // Adds the items to `menu`, before `before` (or at its end); dialogs open over `dialogParent`.
    LibraryMenu(QMenu *menu, QAction *before, QWidget *dialogParent, const QString &homePath);

    QString musicFolder() const { return m_choice.musicFolder(); }

public slots:
    // The same as the menu items, for a path that came from elsewhere (the command line, a later launch, a button).
    bool chooseLibrary(const QString &path);
    bool chooseMusicFolder(const QString &path);
    void useDefaultLibrary();
    void setStartAtLogin(bool enabled);
    void openLibraryDialog();
    void openMusicFolderDialog();
    // Renames the unreadable preference file that kept `path` from being chosen, then chooses it.
    void moveAsideAndChoose(const QString &path);

signals:
    // How a library or music folder choice went.
    void message(const QString &text);
    void startAtLoginMessage(const QString &text);
    // The library the next list reads, or where its songs are looked for, may have changed.
    void libraryChanged();
    void musicFolderChosen(const QString &folder);
    // `path` was not chosen because the preference file cannot be read; moveAsideAndChoose() can help.
    void preferencesInTheWay(const QString &path);
    // Serve a Music Folder… and Rescan Now; and a library chosen, which ends the serving of a folder.
    void serveFolderRequested(const QString &folder);
    void rescanRequested();
    void libraryReplaced();

private:
    bool report(bool ok, const QString &done, const QString &error);
    QString dialogFolder(const QString &current) const;

    const QString m_homePath;
    LibraryChoice m_choice;
    QPointer<QWidget> m_dialogParent;
    QAction *m_startAtLogin = nullptr;
};
