// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "MusicFolderScan.h"

#include <QWidget>

class ElidedLabel;
class MusicFolderService;
class QLabel;
class QProgressBar;

// The music folder being served: which, what its latest scan found and left out, a bar while a scan runs, and why
// a scan failed. Hidden while no folder is served.
class MusicFolderPanel : public QWidget
{
    Q_OBJECT

public:
    explicit MusicFolderPanel(QWidget *parent = nullptr);

    // Shows what `service` does from now on.
    void follow(const MusicFolderService *service);

    void showFolder(const QString &folder);
    void showScanning();
    void showProgress(int done, int total);
    void showReport(const MusicFolderScan::Report &report);
    void showError(const QString &error);

    // What the scan left out or could not read, or empty.
    static QString skippedText(const MusicFolderScan::Report &report);

private:
    ElidedLabel *m_folder = nullptr;
    QLabel *m_found = nullptr;
    QLabel *m_skipped = nullptr;
    QLabel *m_error = nullptr;
    QProgressBar *m_progress = nullptr;
};
