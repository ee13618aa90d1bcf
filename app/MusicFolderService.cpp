// SPDX-License-Identifier: GPL-3.0-or-later
#include "MusicFolderService.h"

#include "LibraryChoice.h"

#include <QDir>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QSet>
#include <QThread>
#include <QtConcurrent>

namespace {

Q_LOGGING_CATEGORY(folderLog, "pellisor.library", QtInfoMsg)

const QString servedFolderKey = QStringLiteral("servedFolder");

} // namespace

MusicFolderService::MusicFolderService(QString homePath, QString libraryPath, QObject *parent)
    : QObject(parent)
    , m_homePath(std::move(homePath))
    , m_libraryPath(std::move(libraryPath))
    , m_settings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("pellisor"), QStringLiteral("pellisor"))
{
    qRegisterMetaType<MusicFolderScan::Report>();
    // One more than the cores: the scan takes one for itself and hands the tags to the pool, and with no more than
    // the cores QtConcurrent read them on one core only (10,000 files: 1.4 to 2.2 s, its CPU time the same; with
    // this, 0.9 to 1.2 s on both cores).
    m_scanThreads.setMaxThreadCount(QThread::idealThreadCount() + 1);
    m_settle.setSingleShot(true);
    m_settle.setInterval(settleMs);
    m_poll.setInterval(pollMs);
    connect(&m_settle, &QTimer::timeout, this, &MusicFolderService::rescan);
    connect(&m_poll, &QTimer::timeout, this, &MusicFolderService::rescan);
    connect(&m_scan, &QFutureWatcher<MusicFolderScan::Report>::finished, this,
            &MusicFolderService::scanFinishedOnWorker);
}

MusicFolderService::~MusicFolderService()
{
    // The worker reports progress to this object: it must be done before this is gone.
    m_scan.waitForFinished();
}

QString MusicFolderService::folder() const
{
    return m_settings.value(servedFolderKey).toString();
}

void MusicFolderService::start()
{
    if (folder().isEmpty())
        return;
    emit folderChanged(folder());
    rescan();
}

void MusicFolderService::serveFolder(const QString &folder)
{
    if (const QString problem = LibraryChoice::musicFolderProblem(folder); !problem.isEmpty()) {
        emit failed(problem);
        return;
    }
    m_settings.setValue(servedFolderKey, QFileInfo(folder).absoluteFilePath());
    m_settings.sync();
    watch({});
    emit folderChanged(this->folder());
    rescan();
}

void MusicFolderService::rescan()
{
    const QString folder = this->folder();
    if (folder.isEmpty())
        return;
    if (m_scan.isRunning()) {
        m_rescanWanted = true;
        return;
    }
    emit scanStarted();
    m_scan.setFuture(QtConcurrent::run(&m_scanThreads, [this, folder, libraryPath = m_libraryPath,
                                                         last = m_lastLibrary] {
        const auto progress = [this](int done, int total) {
            QMetaObject::invokeMethod(this, [this, done, total] { emit scanProgress(done, total); },
                                      Qt::QueuedConnection);
        };
        return MusicFolderScan::run(folder, libraryPath, last, progress, &m_scanThreads);
    }));
}

void MusicFolderService::stopServing()
{
    if (folder().isEmpty())
        return;
    m_settings.remove(servedFolderKey);
    m_settings.sync();
    watch({});
    emit folderChanged({});
}

void MusicFolderService::scanFinishedOnWorker()
{
    const MusicFolderScan::Report report = m_scan.result();
    if (report.library) // whichever folder it was of, that is what the file now holds
        m_lastLibrary = report.library;
    if (report.folder == folder()) { // not a folder given up while it was scanned
        watch(report.folders + report.playlistFiles);
        if (!report.error.isEmpty())
            m_poll.start(); // until the folder is back
        else if (const qint64 age = QDateTime::currentSecsSinceEpoch() - report.newestModified;
                 age >= 0 && age <= stillWritingSeconds) // never for a date in the future
            m_settle.start();
        MusicFolderScan::Report shown = report;
        LibraryChoice choice(m_homePath);
        QString error;
        if (report.error.isEmpty() && choice.chosenLibrary() != m_libraryPath
            && !choice.chooseLibrary(m_libraryPath, &error))
            shown.error = error;
        qCInfo(folderLog).noquote() << "scanned" << report.folder << report.songs << "songs," << report.tagsRead
                                    << "tags read," << (report.written ? "library written" : "library unchanged")
                                    << report.error;
        emit scanFinished(shown);
    }
    if (std::exchange(m_rescanWanted, false))
        rescan();
}

void MusicFolderService::watch(const QStringList &paths)
{
    // Only what changed: giving up and taking again a watch on each of 1,000 folders held the event loop for
    // some 25 ms on every rescan.
    const QSet<QString> wanted(paths.begin(), paths.end());
    QSet<QString> kept;
    for (const std::unique_ptr<QFileSystemWatcher> &watcher : m_watchers) {
        QStringList gone;
        for (const QStringList &watched : {watcher->directories(), watcher->files()}) {
            for (const QString &path : watched) {
                if (wanted.contains(path))
                    kept.insert(path);
                else
                    gone.append(path);
            }
        }
        if (!gone.isEmpty())
            watcher->removePaths(gone);
    }
    QStringList added;
    for (const QString &path : paths)
        if (!kept.contains(path))
            added.append(path);
    // A path the system gave no watch is tried again after each scan.
    QStringList unwatched;
    for (std::size_t i = 0; !added.isEmpty(); ++i) {
        if (i == m_watchers.size()) {
            auto &watcher = m_watchers.emplace_back(std::make_unique<QFileSystemWatcher>());
            connect(watcher.get(), &QFileSystemWatcher::directoryChanged, &m_settle, qOverload<>(&QTimer::start));
            connect(watcher.get(), &QFileSystemWatcher::fileChanged, &m_settle, qOverload<>(&QTimer::start));
        }
        QFileSystemWatcher &watcher = *m_watchers[i];
        const qsizetype room = pathsPerWatcher - watcher.directories().size() - watcher.files().size();
        if (room <= 0)
            continue;
        unwatched += watcher.addPaths(added.first(std::min(room, added.size())));
        added.remove(0, std::min(room, added.size()));
    }
    if (unwatched.isEmpty())
        m_poll.stop();
    else if (!m_poll.isActive())
        m_poll.start();
}
