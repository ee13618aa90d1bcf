// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "EndpointActivity.h"
#include "LibraryStatus.h"
#include "MyController.h"

#include <QMainWindow>

class ActivityPanel;
class HTTPServer;
class LibraryMenu;
class LibraryPanel;
class LibraryStatusReader;
class MusicFolderPanel;
class QLabel;
class ServerPanel;

// The application's one window: what the server is doing, the addresses to type into the handset, the library
// served and what handsets are doing, and a button for the address report. What it says of the library comes from
// libraryStatusReader(); the handsets' activity arrives through its slots. Closing it only hides it; the application
// keeps running.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    // The server is watched, not owned: the application passes its shared one, tests one of their own. The library
    // is looked for from `homePath`.
    MainWindow(HTTPServer *server, const QString &homePath, HostAddressSource addresses = HostAddressSource::system(),
               QWidget *parent = nullptr);

    QString statusText() const;
    // The library items of the File menu; their outcome shows in the window.
    LibraryMenu *libraryMenu() const { return m_libraryMenu; }
    MusicFolderPanel *musicFolderPanel() const { return m_musicFolderPanel; }
    LibraryStatusReader *libraryStatusReader() const { return m_libraryStatus; }

signals:
    void addressReportRequested();
    // The library panel shows `status`, just read.
    void libraryShown(const LibraryStatus &status);

public slots:
    // Reads the library again on a worker.
    void refreshLibrary();
    void showSongList(const QString &peer, qsizetype songs, qint64 msecs);
    void showSongListFailure(const QString &peer, const QString &reason);
    void showRefusal(const QString &peer, const QString &song, EndpointActivity::Refusal why);
    void downloadStarted(quint64 id, const QString &peer, const QString &fileName, qint64 totalBytes);
    void downloadProgress(quint64 id, qint64 sentBytes);
    void downloadFinished(quint64 id, bool complete);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void createMenus(const QString &homePath);
    void fitHeightToContent();
    QWidget *createContent(HTTPServer *server, HostAddressSource addresses);

    const QString m_homePath;
    LibraryMenu *m_libraryMenu = nullptr;
    ServerPanel *m_serverPanel = nullptr;
    QLabel *m_startAtLoginNote = nullptr;
    LibraryPanel *m_libraryPanel = nullptr;
    MusicFolderPanel *m_musicFolderPanel = nullptr;
    ActivityPanel *m_activityPanel = nullptr;
    LibraryStatusReader *m_libraryStatus = nullptr;
};
