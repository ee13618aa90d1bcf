#include "PellisorAppDelegate.h"

#include "HTTPServer.h"

#include <QGuiApplication>
#include <QScreen>
#include <QStyle>
#include <QWidget>

#include <csignal>

void PellisorAppDelegate::applicationDidFinishLaunching()
{
    // A handset that hangs up mid-response must surface as a failed write, not end the process.
    std::signal(SIGPIPE, SIG_IGN);
    HTTPServer::sharedHTTPServer()->start();
}

bool PellisorAppDelegate::applicationShouldHandleReopen()
{
    if (m_window) {
        m_window->show();
        m_window->raise();
        m_window->activateWindow();
        QScreen *screen = m_window->screen() ? m_window->screen() : QGuiApplication::primaryScreen();
        if (screen)
            m_window->setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, m_window->size(),
                                                      screen->availableGeometry()));
    }
    return false;
}

void PellisorAppDelegate::applicationWillTerminate()
{
    HTTPServer::sharedHTTPServer()->stop();
}
