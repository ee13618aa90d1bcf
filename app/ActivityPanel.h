// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "EndpointActivity.h"

#include <QWidget>

#include <map>

class QLabel;
class QVBoxLayout;

namespace activity {
class DownloadRow;
}

// What handsets have been doing: the last song list asked for, the songs being downloaded right now, and the last
// song refused.
class ActivityPanel : public QWidget
{
    Q_OBJECT

public:
    explicit ActivityPanel(QWidget *parent = nullptr);

public slots:
    void showSongList(const QString &peer, qsizetype songs, qint64 msecs);
    void showSongListFailure(const QString &peer, const QString &reason);
    void showRefusal(const QString &peer, const QString &song, EndpointActivity::Refusal why);
    void downloadStarted(quint64 id, const QString &peer, const QString &fileName, qint64 totalBytes);
    void downloadProgress(quint64 id, qint64 sentBytes);
    void downloadFinished(quint64 id, bool complete);

private:
    void remove(quint64 id);
    void makeRoom();

    QLabel *m_lastList = nullptr;
    QLabel *m_lastRefusal = nullptr;
    QVBoxLayout *m_downloads = nullptr;
    // By id, so the oldest comes first; the rows are children of this panel.
    std::map<quint64, activity::DownloadRow *> m_rows;
};
