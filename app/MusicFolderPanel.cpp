// SPDX-License-Identifier: GPL-3.0-or-later
#include "MusicFolderPanel.h"

#include "ElidedLabel.h"
#include "MusicFolderService.h"
#include "PanelStyle.h"

#include <QDateTime>
#include <QLabel>
#include <QLocale>
#include <QProgressBar>
#include <QBoxLayout>

MusicFolderPanel::MusicFolderPanel(QWidget *parent)
    : QWidget(parent)
{
    m_folder = new ElidedLabel(Qt::ElideMiddle, this);
    m_found = plainLabel(this);
    m_skipped = hintLabel(QString(), this);
    m_error = plainLabel(this);
    m_error->setObjectName(QStringLiteral("musicFolderError"));
    m_progress = new QProgressBar(this);
    m_progress->setTextVisible(false);
    m_progress->setMaximumHeight(8);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    layout->addWidget(sectionHeading(tr("Music folder"), this));
    layout->addWidget(m_folder);
    layout->addWidget(m_found);
    layout->addWidget(m_progress);
    layout->addWidget(m_skipped);
    layout->addWidget(m_error);
    for (QWidget *line : {static_cast<QWidget *>(m_skipped), static_cast<QWidget *>(m_error),
                          static_cast<QWidget *>(m_progress)})
        line->hide();
    showFolder({});
}

void MusicFolderPanel::follow(const MusicFolderService *service)
{
    connect(service, &MusicFolderService::folderChanged, this, &MusicFolderPanel::showFolder);
    connect(service, &MusicFolderService::scanStarted, this, &MusicFolderPanel::showScanning);
    connect(service, &MusicFolderService::scanProgress, this, &MusicFolderPanel::showProgress);
    connect(service, &MusicFolderService::scanFinished, this, &MusicFolderPanel::showReport);
    connect(service, &MusicFolderService::failed, this, &MusicFolderPanel::showError);
}

void MusicFolderPanel::showFolder(const QString &folder)
{
    setVisible(!folder.isEmpty());
    m_folder->setFullText(folder);
    m_found->setText(tr("Not scanned yet"));
    m_skipped->hide();
    m_error->hide();
}

void MusicFolderPanel::showScanning()
{
    m_progress->setRange(0, 0); // walking the folder: how much is to be read is not known yet
    m_progress->show();
    m_found->setText(tr("Scanning…"));
}

void MusicFolderPanel::showProgress(int done, int total)
{
    m_progress->setRange(0, total);
    m_progress->setValue(done);
    m_found->setText(tr("Scanning: tags of %1 of %2 new or changed files read")
                         .arg(QLocale().toString(done), QLocale().toString(total)));
}

void MusicFolderPanel::showReport(const MusicFolderScan::Report &report)
{
    m_progress->hide();
    showError(report.error);
    if (!report.error.isEmpty()) {
        m_found->setText(tr("The library of the last scan keeps serving."));
        return;
    }
    m_found->setText(tr("%1, %2; scanned %3")
                         .arg(quantity(report.songs, tr("song"), tr("songs")),
                              quantity(report.playlists, tr("playlist"), tr("playlists")),
                              momentText(QDateTime::currentDateTime())));
    const QString skipped = skippedText(report);
    m_skipped->setText(skipped);
    m_skipped->setVisible(!skipped.isEmpty());
}

void MusicFolderPanel::showError(const QString &error)
{
    m_error->setText(error);
    m_error->setVisible(!error.isEmpty());
}

QString MusicFolderPanel::skippedText(const MusicFolderScan::Report &report)
{
    const QLocale locale;
    QStringList parts;
    const auto count = [&](int n, const QString &what) {
        if (n > 0)
            parts.append(what.arg(locale.toString(n)));
    };
    count(report.otherFiles, tr("files of kinds the handset does not play: %1"));
    count(report.nonUtf8Names, tr("names not in UTF-8: %1"));
    count(report.unreadable, tr("files or folders that cannot be read: %1"));
    count(report.linksNotFollowed, tr("links to a folder, outside the folder or nowhere: %1"));
    QString text = parts.isEmpty() ? QString() : tr("Left out, %1.").arg(parts.join(QStringLiteral("; ")));
    if (report.untagged > 0)
        text += (text.isEmpty() ? QString() : QStringLiteral(" "))
                + tr("Listed by file name, their tags unreadable: %1.").arg(locale.toString(report.untagged));
    return text;
}
