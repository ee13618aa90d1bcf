// SPDX-License-Identifier: GPL-3.0-or-later
#include "PellisorAppDelegate.h"

#include "HTTPServer.h"
#include "WindowPlacement.h"

#include <QWidget>

PellisorAppDelegate::PellisorAppDelegate(HTTPServer *server, QObject *parent)
    : QObject(parent)
    , m_server(server)
{
}

void PellisorAppDelegate::applicationDidFinishLaunching()
{
    if (m_server)
        m_server->start();
}

bool PellisorAppDelegate::applicationShouldHandleReopen()
{
    if (!m_window)
        return false;

    m_window->setWindowState(m_window->windowState() & ~Qt::WindowMinimized);
    m_window->show();
    m_window->raise();
    m_window->activateWindow();
    centreOnScreen(*m_window);
    // Reopening is fully handled here; nothing further for the caller to do.
    return false;
}

void PellisorAppDelegate::applicationWillTerminate()
{
    if (m_server)
        m_server->stop();
}
