// SPDX-License-Identifier: GPL-3.0-or-later
#include "MainWindow.h"

#include "ActivityPanel.h"
#include "AddressPanel.h"
#include "AppIcon.h"
#include "LibraryMenu.h"
#include "LibraryPanel.h"
#include "MusicFolderPanel.h"
#include "LibraryStatusReader.h"
#include "PanelStyle.h"
#include "ServerPanel.h"

#include <QAction>
#include <QApplication>
#include <QEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

constexpr int logoSize = 64;
constexpr int contentMargin = 20;
// Wide enough for a Windows-style library path to stay readable once shortened, narrow enough for a laptop.
constexpr int contentWidth = 560;

QFrame *separator(QWidget *parent)
{
    auto *line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

} // namespace

MainWindow::MainWindow(HTTPServer *server, const QString &homePath, HostAddressSource addresses, QWidget *parent)
    : QMainWindow(parent)
    , m_homePath(homePath)
{
    setWindowTitle(QStringLiteral("Pellisor"));
    setWindowIcon(pellisorIcon());
    createMenus(homePath);
    setCentralWidget(createContent(server, std::move(addresses)));
    connect(m_libraryMenu, &LibraryMenu::message, m_libraryPanel, &LibraryPanel::showNote);
    connect(m_libraryMenu, &LibraryMenu::preferencesInTheWay, m_libraryPanel, &LibraryPanel::offerMoveAside);
    connect(m_libraryMenu, &LibraryMenu::libraryChanged, this, &MainWindow::refreshLibrary);
    connect(m_libraryMenu, &LibraryMenu::startAtLoginMessage, this, [this](const QString &text) {
        m_startAtLoginNote->setText(text);
        m_startAtLoginNote->show();
    });
    connect(m_libraryPanel, &LibraryPanel::chooseLibraryRequested, m_libraryMenu, &LibraryMenu::openLibraryDialog);
    connect(m_libraryPanel, &LibraryPanel::chooseMusicFolderRequested, m_libraryMenu,
            &LibraryMenu::openMusicFolderDialog);
    connect(m_libraryPanel, &LibraryPanel::moveAsideRequested, m_libraryMenu, &LibraryMenu::moveAsideAndChoose);
    m_libraryStatus = new LibraryStatusReader(homePath, [menu = m_libraryMenu] { return menu->musicFolder(); }, this);
    connect(m_libraryStatus, &LibraryStatusReader::statusRead, this, [this](const LibraryStatus &status) {
        m_libraryPanel->showLibrary(status);
        emit libraryShown(status);
    });
    // The window takes the size its content asks for, also when a longer line or another download needs a row.
    layout()->setSizeConstraint(QLayout::SetFixedSize);
    centralWidget()->installEventFilter(this);
    // Right before the first show too, so that a window centred then is still centred when it appears.
    fitHeightToContent();
    refreshLibrary();
}

void MainWindow::refreshLibrary()
{
    m_libraryStatus->refresh();
}

bool MainWindow::eventFilter(QObject *watched, QEvent *event)
{
    // Wrapped lines are as tall as they are at the content's one width, not at the narrower width their size hint
    // guesses; without this the window grows by the difference and spreads it between the lines.
    if (watched == centralWidget() && event->type() == QEvent::LayoutRequest)
        fitHeightToContent();
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::fitHeightToContent()
{
    centralWidget()->setFixedHeight(centralWidget()->heightForWidth(contentWidth));
}

QString MainWindow::statusText() const
{
    return m_serverPanel->statusText();
}

void MainWindow::showSongListFailure(const QString &peer, const QString &reason)
{
    m_activityPanel->showSongListFailure(peer, reason);
}

void MainWindow::showRefusal(const QString &peer, const QString &song, EndpointActivity::Refusal why)
{
    m_activityPanel->showRefusal(peer, song, why);
}

void MainWindow::showSongList(const QString &peer, qsizetype songs, qint64 msecs)
{
    m_activityPanel->showSongList(peer, songs, msecs);
}

void MainWindow::downloadStarted(quint64 id, const QString &peer, const QString &fileName, qint64 totalBytes)
{
    m_activityPanel->downloadStarted(id, peer, fileName, totalBytes);
}

void MainWindow::downloadProgress(quint64 id, qint64 sentBytes)
{
    m_activityPanel->downloadProgress(id, sentBytes);
}

void MainWindow::downloadFinished(quint64 id, bool complete)
{
    m_activityPanel->downloadFinished(id, complete);
}

void MainWindow::createMenus(const QString &homePath)
{
    QMenu *fileMenu = menuBar()->addMenu(tr("&File"));
    QAction *closeWindow = fileMenu->addAction(tr("&Close Window"), this, &QWidget::close);
    closeWindow->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_W));
    m_libraryMenu = new LibraryMenu(fileMenu, closeWindow, this, homePath);
    fileMenu->addSeparator();
    QAction *quit = fileMenu->addAction(tr("&Quit"), qApp, &QCoreApplication::quit);
    // Spelled out: where the platform follows Windows conventions, the standard Quit key has no binding at all.
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
}

QWidget *MainWindow::createContent(HTTPServer *server, HostAddressSource addresses)
{
    auto *content = new QWidget(this);

    auto *icon = new QLabel(content);
    icon->setPixmap(pellisorIcon().pixmap(logoSize));

    auto *title = new QLabel(QStringLiteral("Pellisor"), content);
    QFont titleFont = title->font();
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.5);
    titleFont.setBold(true);
    title->setFont(titleFont);

    m_serverPanel = new ServerPanel(server, content);
    m_startAtLoginNote = hintLabel(QString(), content);
    m_startAtLoginNote->setObjectName(QStringLiteral("startAtLoginNote"));
    m_startAtLoginNote->hide();
    m_libraryPanel = new LibraryPanel(content);
    m_musicFolderPanel = new MusicFolderPanel(content);
    m_activityPanel = new ActivityPanel(content);

    auto *button = new QPushButton(tr("Show &IP Address"), content);
    button->setDefault(true);
    connect(button, &QPushButton::clicked, this, &MainWindow::addressReportRequested);

    auto *text = new QVBoxLayout;
    text->setSpacing(6);
    text->addWidget(title);
    text->addWidget(m_serverPanel);
    text->addWidget(m_startAtLoginNote);
    text->addSpacing(10);
    text->addWidget(new AddressPanel(std::move(addresses), content));
    text->addSpacing(6);
    text->addWidget(separator(content));
    text->addSpacing(6);
    text->addWidget(m_libraryPanel);
    text->addWidget(m_musicFolderPanel);
    text->addSpacing(10);
    text->addWidget(m_activityPanel);

    auto *top = new QHBoxLayout;
    top->setSpacing(16);
    top->addWidget(icon, 0, Qt::AlignTop);
    top->addLayout(text, 1);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(button);

    auto *layout = new QVBoxLayout(content);
    layout->setContentsMargins(contentMargin, contentMargin, contentMargin, contentMargin);
    layout->setSpacing(16);
    layout->addLayout(top);
    layout->addLayout(buttons);

    content->setFixedWidth(contentWidth);
    return content;
}
