// SPDX-License-Identifier: GPL-3.0-or-later
#include "AppIcon.h"
#include "CommandLine.h"
#include "EndpointActivity.h"
#include "EndpointContext.h"
#include "HeadlessPlatform.h"
#include "HeapReturn.h"
#include "HTTPServer.h"
#include "LibraryChoice.h"
#include "LibraryPreferences.h"
#include "LibraryMenu.h"
#include "LibraryStatusReader.h"
#include "MainWindow.h"
#include "MusicFolderPanel.h"
#include "MusicFolderService.h"
#include "MusicLibrary.h"
#include "MyController.h"
#include "PellisorAppDelegate.h"
#include "SignalWatcher.h"
#include "SingleInstance.h"
#include "TrayIcon.h"
#include "WindowPlacement.h"

#include <QApplication>
#include <QDir>
#include <QLoggingCategory>
#include <QSystemTrayIcon>
#include <QThread>
#include <QThreadPool>
#include <QTimer>

#include <cstdio>
#include <memory>

int main(int argc, char *argv[])
{
    returnLargeFreedBlocksToTheSystem();

    // Answered before anything starts: --help, --version and mistakes never touch a display, the port or the lock.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    const std::variant<CommandLineOptions, int> parsed = CommandLine::parse(arguments);
    if (const int *exitStatus = std::get_if<int>(&parsed))
        return *exitStatus;
    const CommandLineOptions options = std::get<CommandLineOptions>(parsed);
    if (options.verbose)
        QLoggingCategory::setFilterRules(QStringLiteral("pellisor.*=true"));

    // Without a desktop the server still runs: Qt draws the window off screen.
    HeadlessPlatform::prepare();

    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Pellisor"));
    QApplication::setDesktopFileName(QStringLiteral("pellisor"));
    QApplication::setWindowIcon(pellisorIcon());
    QApplication::setQuitOnLastWindowClosed(false);

    // The one place that asks where home is; everything else is told.
    const QString homePath = QDir::homePath();

    // Decided before anything is shown or started: a second launch never touches the server's port.
    SingleInstance instance(SingleInstance::nameForCurrentUser(homePath));
    if (instance.handOverToRunningInstance(options.library, options.musicFolder, options.servedFolder))
        return 0;
    // A library asked for that cannot be served ends the launch, rather than serving another one unnoticed.
    if (QString error; !options.library.isEmpty() && !LibraryChoice(homePath).chooseLibrary(options.library, &error)) {
        if (LibraryPreferences::isUnreadable(homePath))
            error += QStringLiteral(" Rename or remove it, or start Pellisor without --library and use File > Choose "
                                    "Library…, which offers to move it aside; then choose the library again.");
        std::fputs(qPrintable(QStringLiteral("pellisor: %1\n").arg(error)), stderr);
        return 1;
    }

    // Song lists are made on these threads, never on the event loop's; one list per core at most, since each holds
    // a whole library in memory. Declared first, so that it is freed last: the library waits for its lists first.
    QThreadPool listWorkers;
    listWorkers.setMaxThreadCount(QThread::idealThreadCount());
    MusicLibrary library(homePath, listWorkers);
    EndpointActivity activity;
    const EndpointContext endpoints{&library, &activity};

    HTTPServer *server = HTTPServer::sharedHTTPServer();
    server->setEndpointContext(&endpoints);
    PellisorAppDelegate delegate(server);
    MainWindow window(server, homePath);
    delegate.setWindow(&window);
    // The window learns from each list what the library holds now, and shows what handsets do.
    LibraryStatusReader *libraryStatus = window.libraryStatusReader();
    QObject::connect(&library, &MusicLibrary::songListReading, libraryStatus, &LibraryStatusReader::songListReading);
    QObject::connect(&library, &MusicLibrary::songListMade, libraryStatus, &LibraryStatusReader::songListMade);
    QObject::connect(&activity, &EndpointActivity::songListSent, &window, &MainWindow::showSongList);
    QObject::connect(&activity, &EndpointActivity::songListFailed, &window, &MainWindow::showSongListFailure);
    QObject::connect(&activity, &EndpointActivity::downloadRefused, &window, &MainWindow::showRefusal);
    QObject::connect(&activity, &EndpointActivity::downloadStarted, &window, &MainWindow::downloadStarted);
    QObject::connect(&activity, &EndpointActivity::downloadProgress, &window, &MainWindow::downloadProgress);
    QObject::connect(&activity, &EndpointActivity::downloadFinished, &window, &MainWindow::downloadFinished);

    MyController controller;
    controller.setAlertParent(&window);
    QObject::connect(&window, &MainWindow::addressReportRequested, &controller, &MyController::MyClick);
    QObject::connect(&instance, &SingleInstance::reopenRequested, &delegate,
                     &PellisorAppDelegate::applicationShouldHandleReopen);
    LibraryMenu *libraryMenu = window.libraryMenu();
    QObject::connect(&instance, &SingleInstance::libraryChosen, libraryMenu, &LibraryMenu::chooseLibrary);
    QObject::connect(&instance, &SingleInstance::musicFolderChosen, libraryMenu, &LibraryMenu::chooseMusicFolder);
    library.setUserMusicFolder(libraryMenu->musicFolder());
    QObject::connect(libraryMenu, &LibraryMenu::musicFolderChosen, &library, &MusicLibrary::setUserMusicFolder);
    // A folder served is scanned into a library of Pellisor's own, which it records as the chosen one; choosing any
    // other library ends that.
    MusicFolderService folderService(homePath, MusicFolderScan::libraryPath());
    window.musicFolderPanel()->follow(&folderService);
    QObject::connect(&folderService, &MusicFolderService::scanFinished, &window,
                     [&window](const MusicFolderScan::Report &report) {
                         if (report.written)
                             window.refreshLibrary();
                     });
    QObject::connect(libraryMenu, &LibraryMenu::serveFolderRequested, &folderService, &MusicFolderService::serveFolder);
    QObject::connect(libraryMenu, &LibraryMenu::rescanRequested, &folderService, &MusicFolderService::rescan);
    QObject::connect(libraryMenu, &LibraryMenu::libraryReplaced, &folderService, &MusicFolderService::stopServing);
    QObject::connect(&instance, &SingleInstance::serveFolderRequested, &folderService,
                     &MusicFolderService::serveFolder);
    if (!options.musicFolder.isEmpty())
        libraryMenu->chooseMusicFolder(options.musicFolder);
    if (!options.servedFolder.isEmpty())
        folderService.serveFolder(options.servedFolder);
    else if (!options.library.isEmpty())
        folderService.stopServing();
    else
        folderService.start();

    std::unique_ptr<TrayIcon> tray;
    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        tray = std::make_unique<TrayIcon>();
        QObject::connect(tray.get(), &TrayIcon::showWindowRequested, &delegate,
                         &PellisorAppDelegate::applicationShouldHandleReopen);
        QObject::connect(tray.get(), &TrayIcon::addressReportRequested, &controller, &MyController::MyClick);
        QObject::connect(tray.get(), &TrayIcon::quitRequested, &application, &QCoreApplication::quit);
    }

    SignalWatcher signalWatcher;
    QObject::connect(&signalWatcher, &SignalWatcher::quitRequested, &application, &QCoreApplication::quit);
    QObject::connect(&application, &QCoreApplication::aboutToQuit, &delegate,
                     &PellisorAppDelegate::applicationWillTerminate);

    // Laid out first: until then the window has no size of its own to centre.
    window.adjustSize();
    centreOnScreen(window);
    if (!HeadlessPlatform::isOffscreen())
        window.show();
    QTimer::singleShot(0, &delegate, &PellisorAppDelegate::applicationDidFinishLaunching);
    return application.exec();
}
