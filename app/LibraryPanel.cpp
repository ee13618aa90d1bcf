// SPDX-License-Identifier: GPL-3.0-or-later
#include "LibraryPanel.h"

#include "ElidedLabel.h"
#include "MusicFolderScan.h"
#include "PanelStyle.h"

#include <QGridLayout>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QVBoxLayout>

LibraryPanel::LibraryPanel(QWidget *parent)
    : QWidget(parent)
{
    m_path = new ElidedLabel(Qt::ElideMiddle, this);
    m_path->setObjectName(QStringLiteral("libraryPath"));
    m_details = plainLabel(this);
    m_details->setObjectName(QStringLiteral("libraryDetails"));
    m_songs = plainLabel(this);
    m_songs->setObjectName(QStringLiteral("librarySongs"));
    m_chooseLibrary = new QPushButton(tr("Choose Library…"), this);
    m_chooseLibrary->setObjectName(QStringLiteral("chooseLibrary"));
    connect(m_chooseLibrary, &QPushButton::clicked, this, &LibraryPanel::chooseLibraryRequested);
    m_chooseMusicFolder = new QPushButton(tr("Choose Music Folder…"), this);
    m_chooseMusicFolder->setObjectName(QStringLiteral("chooseMusicFolder"));
    connect(m_chooseMusicFolder, &QPushButton::clicked, this, &LibraryPanel::chooseMusicFolderRequested);
    m_note = hintLabel(QString(), this);
    m_note->setObjectName(QStringLiteral("libraryNote"));
    m_moveAside = new QPushButton(tr("Move It Aside and Choose"), this);
    m_moveAside->setObjectName(QStringLiteral("moveAside"));
    connect(m_moveAside, &QPushButton::clicked, this, [this] { emit moveAsideRequested(m_blockedLibrary); });

    // Each button beside the line it answers.
    auto *lines = new QGridLayout;
    lines->setContentsMargins(0, 0, 0, 0);
    lines->setHorizontalSpacing(12);
    lines->setVerticalSpacing(4);
    lines->addWidget(m_details, 0, 0);
    lines->addWidget(m_chooseLibrary, 0, 1, Qt::AlignTop);
    lines->addWidget(m_songs, 1, 0);
    lines->addWidget(m_chooseMusicFolder, 1, 1, Qt::AlignTop);
    lines->addWidget(m_note, 2, 0);
    lines->addWidget(m_moveAside, 2, 1, Qt::AlignTop);
    lines->setColumnStretch(0, 1);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    layout->addWidget(sectionHeading(tr("Library"), this));
    layout->addWidget(m_path);
    layout->addLayout(lines);

    showNote({});
    showLibrary({});
}

void LibraryPanel::showLibrary(const LibraryStatus &status)
{
    using State = LibraryStatus::State;
    m_path->setFullText(status.path);
    m_path->setVisible(!status.path.isEmpty());

    switch (status.state) {
    case State::Unknown: m_details->setText(tr("Reading the library…")); break;
    case State::NotFound:
        if (status.path == MusicFolderScan::libraryPath()) {
            m_details->setText(tr("Pellisor makes this library from the music folder below: handsets get its songs "
                                  "once its first scan is done."));
            break;
        }
        m_details->setText(tr("No iTunes library here, so handsets get no songs. Choose the library file you copied "
                              "from iTunes (an .xml file, such as “iTunes Music Library.xml”)."));
        break;
    case State::NotAFile:
        m_details->setText(tr("This is a folder, not an iTunes library file. Choose the library's .xml file."));
        break;
    case State::Unreadable:
        m_details->setText(tr("This file cannot be read as an iTunes library: it is damaged or of another kind. "
                              "Choose another, or export the library from iTunes again."));
        break;
    case State::Read:
        m_details->setText(
            tr("%1; read %2").arg(quantity(status.tracks, tr("track"), tr("tracks")), momentText(status.readAt)));
        break;
    }
    const bool read = status.state == State::Read;
    const bool folderScanUnderWay =
        status.state == State::NotFound && status.path == MusicFolderScan::libraryPath();
    m_chooseLibrary->setVisible(!read && status.state != State::Unknown && !folderScanUnderWay);
    m_songs->setVisible(read);
    const QString songs = quantity(status.songs, tr("song"), tr("songs"));
    m_songs->setText(status.missingFiles > 0
                         ? tr("%1; %2 not found").arg(songs, quantity(status.missingFiles, tr("file"), tr("files")))
                         : tr("%1 for the handset").arg(songs));
    m_chooseMusicFolder->setVisible(read && status.missingFiles > 0);
}

void LibraryPanel::showNote(const QString &text)
{
    m_note->setText(text);
    m_note->setVisible(!text.isEmpty());
    m_moveAside->hide();
}

void LibraryPanel::offerMoveAside(const QString &library)
{
    m_blockedLibrary = library;
    m_moveAside->show();
}
