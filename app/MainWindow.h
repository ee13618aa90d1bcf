#pragma once

#include "LibraryStatus.h"
#include "MyController.h"

#include <QMainWindow>

class ActivityPanel;
class HTTPServer;
class LibraryMenu;
class LibraryPanel;
class ServerPanel;

// The application's one window: what the server is doing, the addresses to type into the handset, the library
// served and what handsets are doing, and a button for the address report. It reads nothing itself: the library
// and the handsets' activity arrive through its slots. Closing it only hides it; the application keeps running.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    // The server is watched, not owned: the application passes its shared one, tests one of their own.
    explicit MainWindow(HTTPServer *server, HostAddressSource addresses = HostAddressSource::system(),
                        QWidget *parent = nullptr);

    QString statusText() const;
    // The library items of the File menu; their outcome shows in the window.
    LibraryMenu *libraryMenu() const { return m_libraryMenu; }

signals:
    void addressReportRequested();

public slots:
    void showLibrary(const LibraryStatus &status);
    void showSongList(const QString &peer, qsizetype songs, qint64 msecs);
    void downloadStarted(quint64 id, const QString &peer, const QString &fileName, qint64 totalBytes);
    void downloadProgress(quint64 id, qint64 sentBytes);
    void downloadFinished(quint64 id, bool complete);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void createMenus();
    void fitHeightToContent();
    QWidget *createContent(HTTPServer *server, HostAddressSource addresses);

    LibraryMenu *m_libraryMenu = nullptr;
    ServerPanel *m_serverPanel = nullptr;
    LibraryPanel *m_libraryPanel = nullptr;
    ActivityPanel *m_activityPanel = nullptr;
};
