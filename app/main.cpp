#include "AppIcon.h"
#include "CommandLine.h"
#include "EndpointActivity.h"
#include "EndpointContext.h"
#include "HeadlessPlatform.h"
#include "HeapReturn.h"
#include "HTTPServer.h"
#include "LibraryChoice.h"
#include "LibraryLocator.h"
#include "LibraryMenu.h"
#include "MainWindow.h"
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

    // Decided before anything is shown or started: a second launch never touches the server's port.
    SingleInstance instance;
    if (instance.handOverToRunningInstance(options.library, options.musicFolder))
        return 0;

    // Song lists are made on these threads, never on the event loop's; one list per core at most, since each holds
    // a whole library in memory. Declared first, so that it is freed last: the library waits for its lists first.
    QThreadPool listWorkers;
    listWorkers.setMaxThreadCount(QThread::idealThreadCount());
    MusicLibrary library(QDir::homePath(), listWorkers);
    EndpointActivity activity;
    const EndpointContext endpoints{&library, &activity};

    HTTPServer *server = HTTPServer::sharedHTTPServer();
    server->setEndpointContext(&endpoints);
    PellisorAppDelegate delegate(server);
    MainWindow window(server);
    delegate.setWindow(&window);
    // The library as each list found it, and what handsets do, as it happens; nothing here reads the library.
    window.showLibrary({.path = LibraryLocator::libraryPath(QDir::homePath())});
    QObject::connect(&library, &MusicLibrary::songListMade, &window, [&window](const SongList &list) {
        if (list.isListed())
            window.showLibrary({.path = list.libraryPath,
                                .tracks = list.trackCount,
                                .songs = list.index.size(),
                                .readAt = QDateTime::currentDateTime()});
        else if (!list.failure.isNull())
            window.showLibrary({.path = list.libraryPath, .problem = list.failure});
    });
    QObject::connect(&activity, &EndpointActivity::songListSent, &window, &MainWindow::showSongList);
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
    library.setUserMusicFolder(LibraryChoice(QDir::homePath()).musicFolder());
    QObject::connect(libraryMenu, &LibraryMenu::musicFolderChosen, &library, &MusicLibrary::setUserMusicFolder);
    if (!options.library.isEmpty())
        libraryMenu->chooseLibrary(options.library);
    if (!options.musicFolder.isEmpty())
        libraryMenu->chooseMusicFolder(options.musicFolder);

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
