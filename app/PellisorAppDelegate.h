// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QPointer>

class HTTPServer;
class QWidget;

// Ties the server's life to the application's: started once the event loop runs, stopped when the
// application is about to quit. Also brings the window back when the user asks to reopen the application.
class PellisorAppDelegate : public QObject
{
    Q_OBJECT

public:
    // The server is not owned: the application passes its shared one, which lives as long as the process.
    explicit PellisorAppDelegate(HTTPServer *server, QObject *parent = nullptr);

    // The main window; not owned. It lives as long as the application, closing it only hides it.
    QWidget *window() const { return m_window; }
    void setWindow(QWidget *window) { m_window = window; }

    void applicationDidFinishLaunching();
    bool applicationShouldHandleReopen();
    void applicationWillTerminate();

private:
    QPointer<HTTPServer> m_server;
    QPointer<QWidget> m_window;
};
