#pragma once

#include <QMainWindow>
#include <QPointer>

class HTTPServer;
class LibraryMenu;
class QLabel;

// The application's one window: what the server is doing, and a button for the address report.
// Closing it only hides it; the application and its server keep running.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    // The server is watched, not owned: the application passes its shared one, tests one of their own.
    explicit MainWindow(HTTPServer *server, QWidget *parent = nullptr);

    QString statusText() const;
    // The library items of the File menu; their outcome shows in the window.
    LibraryMenu *libraryMenu() const { return m_libraryMenu; }

signals:
    void addressReportRequested();

private:
    void createMenus();
    QWidget *createContent();
    void showServerState();

    QPointer<HTTPServer> m_server;
    QLabel *m_status = nullptr;
    LibraryMenu *m_libraryMenu = nullptr;
    QLabel *m_libraryStatus = nullptr;
};
