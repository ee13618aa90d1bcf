#include "LibraryMenu.h"

#include "Autostart.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QMenu>

namespace {

Q_LOGGING_CATEGORY(libraryLog, "pellisor.library", QtInfoMsg)

} // namespace

LibraryMenu::LibraryMenu(QMenu *menu, QAction *before, QWidget *dialogParent, QString homePath)
    : QObject(menu)
    , m_choice(std::move(homePath))
    , m_dialogParent(dialogParent)
{
    auto *chooseLibrary = new QAction(tr("Choose &Library…"), this);
    connect(chooseLibrary, &QAction::triggered, this, [this] {
        const QString path = QFileDialog::getOpenFileName(m_dialogParent, tr("Choose an iTunes Library"),
                                                          QFileInfo(m_choice.chosenLibrary()).path(),
                                                          tr("iTunes libraries (*.xml);;All files (*)"));
        if (!path.isEmpty())
            this->chooseLibrary(path);
    });
    auto *useDefault = new QAction(tr("Use &Default Library"), this);
    connect(useDefault, &QAction::triggered, this, &LibraryMenu::useDefaultLibrary);
    auto *chooseMusicFolder = new QAction(tr("Choose &Music Folder…"), this);
    connect(chooseMusicFolder, &QAction::triggered, this, [this] {
        const QString path = QFileDialog::getExistingDirectory(m_dialogParent, tr("Choose the Folder of Your Songs"),
                                                               m_choice.musicFolder());
        if (!path.isEmpty())
            this->chooseMusicFolder(path);
    });
    auto *serveFolder = new QAction(tr("Serve a Music &Folder…"), this);
    connect(serveFolder, &QAction::triggered, this, [this] {
        const QString path = QFileDialog::getExistingDirectory(m_dialogParent, tr("Serve a Music Folder"));
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

bool LibraryMenu::chooseLibrary(const QString &path)
{
    QString error;
    const bool ok = m_choice.chooseLibrary(path, &error);
    report(ok, tr("Serving the library %1.").arg(m_choice.chosenLibrary()),
           tr("The library stays as it was: %1").arg(error));
    if (ok)
        emit libraryReplaced();
    return ok;
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
    report(ok, tr("Serving the library iTunes records, or the one in its default place."),
           tr("The library stays as it was: %1").arg(error));
    if (ok)
        emit libraryReplaced();
}

void LibraryMenu::setStartAtLogin(bool enabled)
{
    QString error;
    const bool ok = Autostart::setEnabled(enabled, QCoreApplication::applicationFilePath(), &error);
    m_startAtLogin->setChecked(Autostart::isEnabled());
    report(ok, enabled ? tr("Pellisor starts when you log in.") : tr("Pellisor no longer starts when you log in."),
           tr("Start at Login stays as it was: %1").arg(error));
}

void LibraryMenu::report(bool ok, const QString &done, const QString &error)
{
    if (ok)
        qCDebug(libraryLog).noquote() << done;
    else
        qCWarning(libraryLog).noquote() << error;
    emit message(ok ? done : error);
}
