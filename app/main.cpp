#include "MainWindow.h"
#include "PellisorAppDelegate.h"
#include "SignalWatcher.h"

#include <QApplication>
#include <QTimer>

int main(int argc, char *argv[])
{
    // Without a desktop the server still runs: Qt draws the window off screen.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY")
        && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");

    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Pellisor"));
    QApplication::setQuitOnLastWindowClosed(false);

    PellisorAppDelegate delegate;
    MainWindow window;
    delegate.setWindow(&window);

    SignalWatcher signalWatcher;
    QObject::connect(&signalWatcher, &SignalWatcher::quitRequested, &application, &QCoreApplication::quit);
    QObject::connect(&application, &QCoreApplication::aboutToQuit, &delegate,
                     &PellisorAppDelegate::applicationWillTerminate);

    window.show();
    QTimer::singleShot(0, &delegate, &PellisorAppDelegate::applicationDidFinishLaunching);
    return application.exec();
}
