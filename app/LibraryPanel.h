// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "LibraryStatus.h"

#include <QWidget>

class ElidedLabel;
class QLabel;
class QPushButton;

// The library the next song list reads: where it is, what the handset gets from it and which of its songs' files
// are missing, or why it cannot be read, with the button that helps.
class LibraryPanel : public QWidget
{
    Q_OBJECT

public:
    explicit LibraryPanel(QWidget *parent = nullptr);

signals:
    void chooseLibraryRequested();
    void chooseMusicFolderRequested();
    void moveAsideRequested(const QString &library);

public slots:
    void showLibrary(const LibraryStatus &status);
    // How a choice made in the File menu went.
    void showNote(const QString &text);
    // The note above says why `library` was not chosen; offered until the next note.
    void offerMoveAside(const QString &library);

private:
    ElidedLabel *m_path = nullptr;
    QLabel *m_details = nullptr;
    QLabel *m_songs = nullptr;
    QPushButton *m_chooseLibrary = nullptr;
    QPushButton *m_chooseMusicFolder = nullptr;
    QLabel *m_note = nullptr;
    QPushButton *m_moveAside = nullptr;
    QString m_blockedLibrary;
};
