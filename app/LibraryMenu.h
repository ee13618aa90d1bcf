#pragma once

#include "LibraryChoice.h"

#include <QObject>
#include <QPointer>

class QAction;
class QMenu;
class QWidget;

// The File menu's library items: Choose Library…, Use Default Library, Choose Music Folder…, Start at Login.
// Each says how it went through message(); nothing it does can end the application.
class LibraryMenu : public QObject
{
    Q_OBJECT

public:
    // Adds the items to `menu`, before `before` (or at its end); dialogs open over `dialogParent`.
    LibraryMenu(QMenu *menu, QAction *before, QWidget *dialogParent, QString homePath);

    // The same as the menu items, for a path that came from elsewhere (the command line, a later launch).
    bool chooseLibrary(const QString &path);
    bool chooseMusicFolder(const QString &path);
    void useDefaultLibrary();
    void setStartAtLogin(bool enabled);

signals:
    void message(const QString &text);
    void musicFolderChosen(const QString &folder);
    // Serve a Music Folder… and Rescan Now; and a library chosen, which ends the serving of a folder.
    void serveFolderRequested(const QString &folder);
    void rescanRequested();
    void libraryReplaced();

private:
    void report(bool ok, const QString &done, const QString &error);

    LibraryChoice m_choice;
    QPointer<QWidget> m_dialogParent;
    QAction *m_startAtLogin = nullptr;
};
