// SPDX-License-Identifier: GPL-3.0-or-later
#include "ActivityPanel.h"

#include "ElidedLabel.h"
#include "PanelStyle.h"

#include <QDateTime>
#include <QGridLayout>
#include <QLabel>
#include <QLocale>
#include <QProgressBar>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

namespace {

// A finished download stays this long, so that a short one is seen at all and its outcome can be read.
constexpr int finishedRowLifetime = 3000;
// Beyond this many the window would grow past the screen; older rows make way for newer ones.
constexpr std::size_t mostVisibleDownloads = 4;
// Progress bars count in int; per mille fits any file size.
constexpr int progressSteps = 1000;
// A thin bar under its line of text, not a control as tall as a button.
constexpr int progressBarHeight = 8;

QString dataSize(qint64 bytes)
{
    return QLocale().formattedDataSize(bytes, 1, QLocale::DataSizeSIFormat);
}

} // namespace

namespace activity {

// One song on its way to a handset: its name, who gets it, how far it is.
class DownloadRow : public QWidget
{
public:
    DownloadRow(const QString &peer, const QString &fileName, qint64 totalBytes, QWidget *parent)
        : QWidget(parent)
        , m_peer(peer)
        , m_total(totalBytes)
    {
        auto *name = new ElidedLabel(Qt::ElideMiddle, this);
        name->setFullText(fileName);
        m_progressText = new QLabel(this);
        m_progressText->setTextFormat(Qt::PlainText);
        m_progressText->setForegroundRole(QPalette::PlaceholderText);
        m_bar = new QProgressBar(this);
        m_bar->setTextVisible(false);
        m_bar->setFixedHeight(progressBarHeight);
        // An unknown size shows as a busy bar rather than one stuck at zero.
        m_bar->setRange(0, m_total > 0 ? progressSteps : 0);

        auto *layout = new QGridLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setHorizontalSpacing(12);
        layout->setVerticalSpacing(2);
        layout->addWidget(name, 0, 0);
        layout->addWidget(m_progressText, 0, 1, Qt::AlignRight);
        layout->addWidget(m_bar, 1, 0, 1, 2);
        layout->setColumnStretch(0, 1);
        setProgress(0);
    }

    void setProgress(qint64 sentBytes)
    {
        m_sent = sentBytes;
        if (m_total > 0)
            m_bar->setValue(int(std::clamp(m_sent * progressSteps / m_total, qint64(0), qint64(progressSteps))));
        m_progressText->setText(m_total > 0 ? tr("%1 of %2 to %3").arg(dataSize(m_sent), dataSize(m_total), m_peer)
                                            : tr("%1 to %2").arg(dataSize(m_sent), m_peer));
    }

    void finish(bool complete)
    {
        m_finished = true;
        m_bar->setRange(0, progressSteps);
        m_bar->setValue(complete ? progressSteps : m_bar->value());
        m_bar->setEnabled(complete);
        m_progressText->setText(complete ? tr("sent to %1").arg(m_peer)
                                         : tr("stopped after %1 to %2").arg(dataSize(m_sent), m_peer));
    }

    bool finished() const { return m_finished; }

    static QString tr(const char *text) { return ActivityPanel::tr(text); }

private:
    const QString m_peer;
    const qint64 m_total;
    qint64 m_sent = 0;
    bool m_finished = false;
    QLabel *m_progressText = nullptr;
    QProgressBar *m_bar = nullptr;
};

} // namespace activity

ActivityPanel::ActivityPanel(QWidget *parent)
    : QWidget(parent)
{
    m_lastList = plainLabel(this);
    m_lastList->setObjectName(QStringLiteral("lastSongList"));
    m_lastList->setText(tr("No handset has asked for a song list yet."));

    m_lastRefusal = plainLabel(this);
    m_lastRefusal->setObjectName(QStringLiteral("lastRefusal"));
    m_lastRefusal->hide();

    m_downloads = new QVBoxLayout;
    m_downloads->setSpacing(8);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    layout->addWidget(sectionHeading(tr("Handset"), this));
    layout->addWidget(m_lastList);
    layout->addWidget(m_lastRefusal);
    layout->addSpacing(4);
    layout->addLayout(m_downloads);
}

void ActivityPanel::showSongList(const QString &peer, qsizetype songs, qint64 msecs)
{
    const QLocale locale;
    m_lastList->setText(tr("Last list: %1 to %2 in %3 ms, %4")
                            .arg(quantity(songs, tr("song"), tr("songs")), peer, locale.toString(msecs),
                                 momentText(QDateTime::currentDateTime())));
}

void ActivityPanel::showSongListFailure(const QString &peer, const QString &reason)
{
    m_lastList->setText(tr("Last list: none sent to %1, %2. It was told: %3")
                            .arg(peer, momentText(QDateTime::currentDateTime()), reason));
}

void ActivityPanel::showRefusal(const QString &peer, const QString &song, EndpointActivity::Refusal why)
{
    const QString moment = momentText(QDateTime::currentDateTime());
    m_lastRefusal->setText(why == EndpointActivity::Refusal::NotListed
                               ? tr("Not sent: %1 asked for track %2, which is not in the latest song list, %3.")
                                     .arg(peer, song, moment)
                               : tr("Not sent: %1 asked for %2, whose file cannot be found or is empty, %3.")
                                     .arg(peer, song, moment));
    m_lastRefusal->show();
}

void ActivityPanel::downloadStarted(quint64 id, const QString &peer, const QString &fileName, qint64 totalBytes)
{
    remove(id);
    makeRoom();
    auto *row = new activity::DownloadRow(peer, fileName, totalBytes, this);
    m_downloads->addWidget(row);
    m_rows.emplace(id, row);
}

void ActivityPanel::downloadProgress(quint64 id, qint64 sentBytes)
{
    const auto found = m_rows.find(id);
    if (found != m_rows.end() && !found->second->finished())
        found->second->setProgress(sentBytes);
}

void ActivityPanel::downloadFinished(quint64 id, bool complete)
{
    const auto found = m_rows.find(id);
    if (found == m_rows.end())
        return;
    found->second->finish(complete);
    // Tied to the row: a row removed earlier to make room takes its timer with it.
    QTimer::singleShot(finishedRowLifetime, found->second, [this, id] { remove(id); });
}

void ActivityPanel::remove(quint64 id)
{
    const auto found = m_rows.find(id);
    if (found == m_rows.end())
        return;
    found->second->hide();
    // Possibly called from the row's own timer: freed once that call has returned.
    found->second->deleteLater();
    m_rows.erase(found);
}

void ActivityPanel::makeRoom()
{
    if (m_rows.size() < mostVisibleDownloads)
        return;
    // A finished row goes first; if all are still running, the oldest stops being shown (its download goes on).
    const auto finished = std::find_if(m_rows.begin(), m_rows.end(), [](const auto &row) {
        return row.second->finished();
    });
    remove(finished != m_rows.end() ? finished->first : m_rows.begin()->first);
}
