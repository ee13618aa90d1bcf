// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "MusicFolderScan.h"

#include <QFileSystemWatcher>
#include <QFutureWatcher>
#include <QObject>
#include <QSettings>
#include <QThreadPool>
#include <QTimer>

#include <memory>
#include <vector>

// The music folder Pellisor serves, remembered across runs: scanned on a worker when chosen, at start, when asked
// and when it changes, its library recorded as the chosen library once written. The library written before keeps
// serving while a scan runs, and when one fails.
class MusicFolderService : public QObject
{
    Q_OBJECT

public:
    // Changes settle for this long before a rescan: copying an album touches its folder once per file.
    static constexpr int settleMs = 1000;
    // Where the system gives no more watches, changes are looked for this often instead.
    static constexpr int pollMs = 60 * 1000;
    // A file written to this recently may still be growing, and a watch on its folder will not say when it stops.
    static constexpr int stillWritingSeconds = 3;
    // QFileSystemWatcher looks each path it is given up in a plain list of those it has, so the 10,100 folders of
    // 100,000 songs, given to one watcher, held the event loop for 530 ms; in watchers of this many, the whole
    // hand-back of that scan takes 140 ms. Each is an inotify instance (128 a user by default): past those, Qt polls.
    static constexpr qsizetype pathsPerWatcher = 1000;

    MusicFolderService(QString homePath, QString libraryPath, QObject *parent = nullptr);
    ~MusicFolderService() override;

    QString folder() const;

    // Scans the remembered folder, if there is one.
    void start();
    void serveFolder(const QString &folder);
    void rescan();
    // Another library was chosen: the folder is no longer watched nor remembered.
    void stopServing();

signals:
    void folderChanged(const QString &folder); // empty when none is served
    void scanStarted();
    void scanProgress(int done, int total);
    void scanFinished(const MusicFolderScan::Report &report);
    void failed(const QString &error);

private:
    void scanFinishedOnWorker();
    void watch(const QStringList &paths);

    const QString m_homePath;
    const QString m_libraryPath;
    QSettings m_settings;
    std::vector<std::unique_ptr<QFileSystemWatcher>> m_watchers;
    QTimer m_settle;
    QTimer m_poll;
    QThreadPool m_scanThreads; // lowered in priority by the scan, so not the global pool's
    QFutureWatcher<MusicFolderScan::Report> m_scan;
    bool m_rescanWanted = false;
    // Handed to each scan and replaced only when one is done, on this thread.
    std::shared_ptr<const MusicFolderScan::LastLibrary> m_lastLibrary;
};
