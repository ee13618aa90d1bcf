#include "MainWindow.h"

#include "AppIcon.h"
#include "HTTPServer.h"
#include "LibraryMenu.h"
#include "ServerStatusText.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

constexpr int logoSize = 64;
constexpr int contentMargin = 20;
constexpr int contentWidth = 440;

QLabel *hintLabel(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setWordWrap(true);
    label->setForegroundRole(QPalette::PlaceholderText);
    return label;
}

} // namespace

MainWindow::MainWindow(HTTPServer *server, QWidget *parent)
    : QMainWindow(parent)
    , m_server(server)
{
    setWindowTitle(QStringLiteral("Pellisor"));
    setWindowIcon(pellisorIcon());
    createMenus();
    setCentralWidget(createContent());
    if (m_server)
        connect(m_server, &HTTPServer::stateChanged, this, &MainWindow::showServerState);
    showServerState();
    connect(m_libraryMenu, &LibraryMenu::message, m_libraryStatus, [this](const QString &text) {
        m_libraryStatus->setText(text);
        m_libraryStatus->show();
    });
    // The window takes the size its content asks for, also when a longer status line needs another row.
    layout()->setSizeConstraint(QLayout::SetFixedSize);
}

QString MainWindow::statusText() const
{
    return m_status->text();
}

void MainWindow::createMenus()
{
    QMenu *fileMenu = menuBar()->addMenu(tr("&File"));
    QAction *closeWindow = fileMenu->addAction(tr("&Close Window"), this, &QWidget::close);
    closeWindow->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_W));
    m_libraryMenu = new LibraryMenu(fileMenu, closeWindow, this, QDir::homePath());
    fileMenu->addSeparator();
    QAction *quit = fileMenu->addAction(tr("&Quit"), qApp, &QCoreApplication::quit);
    // Spelled out: where the platform follows Windows conventions, the standard Quit key has no binding at all.
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
}

QWidget *MainWindow::createContent()
{
    auto *content = new QWidget(this);

    auto *icon = new QLabel(content);
    icon->setPixmap(pellisorIcon().pixmap(logoSize));
    icon->setAlignment(Qt::AlignTop);

    auto *title = new QLabel(QStringLiteral("Pellisor"), content);
    QFont titleFont = title->font();
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.5);
    titleFont.setBold(true);
    title->setFont(titleFont);

    m_status = new QLabel(content);
    m_status->setObjectName(QStringLiteral("serverStatus"));
    m_status->setTextFormat(Qt::PlainText);
    m_status->setWordWrap(true);

    m_libraryStatus = new QLabel(content);
    m_libraryStatus->setObjectName(QStringLiteral("libraryStatus"));
    m_libraryStatus->setTextFormat(Qt::PlainText);
    m_libraryStatus->setWordWrap(true);
    m_libraryStatus->hide();

    auto *button = new QPushButton(tr("Show &IP Address"), content);
    button->setDefault(true);
    connect(button, &QPushButton::clicked, this, &MainWindow::addressReportRequested);

    auto *text = new QVBoxLayout;
    text->setSpacing(6);
    text->addWidget(title);
    text->addWidget(m_status);
    text->addWidget(m_libraryStatus);
    text->addSpacing(6);
    text->addWidget(hintLabel(tr("Type one of this computer's addresses into Pellisor on your handset."), content));
    text->addStretch();

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

void MainWindow::showServerState()
{
    m_status->setText(m_server ? serverStatusText(*m_server) : tr("Stopped"));
}
