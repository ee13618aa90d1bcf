// The window: its status line follows a real server through its states and offers to start a failed one again, it
// lists the addresses to type into a handset, shows downloads while they last, and its button asks for the report.

#include "HTTPServer.h"
#include "LoopbackServer.h"
#include "MainWindow.h"

#include <QLabel>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>

namespace {

// The status line as it reads at each of the server's state changes.
QStringList statusLinesDuring(HTTPServer &server, const MainWindow &window, const std::function<void()> &action)
{
    QStringList lines;
    // Connected after the window, so the window has updated its line by the time this runs.
    const QMetaObject::Connection recording = QObject::connect(
        &server, &HTTPServer::stateChanged, &server, [&] { lines.append(window.statusText()); });
    action();
    QObject::disconnect(recording);
    return lines;
}

} // namespace

class tst_MainWindow : public QObject
{
    Q_OBJECT

private slots:
    void statusLineFollowsTheServer();
    void takenPortCanBeTriedAgain();
    void listsEveryNonLoopbackIPv4Address();
    void downloadShowsABarUntilItHasFinished();
    void buttonAsksForTheAddressReport();
    void offersQuitInTheFileMenu();
    void closingOnlyHides();
};

void tst_MainWindow::statusLineFollowsTheServer()
{
    HTTPServer server(loopbackOptions());
    MainWindow window(&server);
    QCOMPARE(window.statusText(), QStringLiteral("Stopped"));

    const QStringList starting = statusLinesDuring(server, window, [&] { server.start(); });
    QCOMPARE(server.state(), HTTPServer::HTTPServerStateRunning);
    QCOMPARE(starting, (QStringList{QStringLiteral("Starting…"),
                                    QStringLiteral("Serving on port %1").arg(server.serverPort())}));

    const QStringList stopping = statusLinesDuring(server, window, [&] { server.stop(); });
    QCOMPARE(stopping, (QStringList{QStringLiteral("Stopping…"), QStringLiteral("Stopped")}));
}

void tst_MainWindow::takenPortCanBeTriedAgain()
{
    auto otherProgram = std::make_unique<QTcpServer>();
    QVERIFY(otherProgram->listen(QHostAddress::LocalHost));
    HTTPServer server(loopbackOptions(otherProgram->serverPort()));
    MainWindow window(&server);
    auto *tryAgain = window.findChild<QPushButton *>(QStringLiteral("tryAgain"));
    QVERIFY(!tryAgain->isVisibleTo(&window));

    server.start();
    QCOMPARE(server.state(), HTTPServer::HTTPServerStateIdle);
    QCOMPARE(window.statusText(), QStringLiteral("Not serving: port 4556 is in use by another program."));
    QVERIFY(tryAgain->isVisibleTo(&window));

    otherProgram.reset();
    QTest::mouseClick(tryAgain, Qt::LeftButton);
    QCOMPARE(server.state(), HTTPServer::HTTPServerStateRunning);
    QVERIFY(!tryAgain->isVisibleTo(&window));
}

void tst_MainWindow::listsEveryNonLoopbackIPv4Address()
{
    QStringList host;
    MainWindow window(nullptr, HostAddressSource{[&] { return host; }, [] { return QString(); }});
    host = QStringList{"fe80::1%en0", "127.0.0.1", "192.168.1.20", "::1", "172.16.0.5", "127.0.1.1", "10.0.0.5"};
    window.show();
    QCOMPARE(window.findChild<QLabel *>(QStringLiteral("addresses"))->text(),
             QStringLiteral("192.168.1.20\n172.16.0.5\n10.0.0.5"));
}

void tst_MainWindow::downloadShowsABarUntilItHasFinished()
{
    MainWindow window(nullptr);
    window.downloadStarted(7, QStringLiteral("192.168.1.31"), QStringLiteral("Song.mp3"), 4000);
    QPointer<QProgressBar> bar = window.findChild<QProgressBar *>();
    QVERIFY(bar && bar->isVisibleTo(&window));
    window.downloadProgress(7, 1000);
    QCOMPARE(bar->value(), bar->maximum() / 4);

    window.downloadFinished(7, true);
    QCOMPARE(bar->value(), bar->maximum());
    QTRY_VERIFY_WITH_TIMEOUT(!bar, 10000);
}

void tst_MainWindow::buttonAsksForTheAddressReport()
{
    MainWindow window(nullptr);
    QList<QPushButton *> buttons = window.findChildren<QPushButton *>();
    buttons.removeIf([&](QPushButton *button) { return !button->isVisibleTo(&window); });
    QCOMPARE(buttons.size(), 1);
    QCOMPARE(buttons.first()->text().remove(u'&'), QStringLiteral("Show IP Address"));

    QSignalSpy requests(&window, &MainWindow::addressReportRequested);
    QTest::mouseClick(buttons.first(), Qt::LeftButton);
    QCOMPARE(requests.size(), 1);
}

void tst_MainWindow::offersQuitInTheFileMenu()
{
    MainWindow window(nullptr);
    QCOMPARE(window.windowTitle(), QStringLiteral("Pellisor"));
    const QList<QAction *> menus = window.menuBar()->actions();
    QCOMPARE(menus.size(), 1);
    QCOMPARE(menus.first()->text().remove(u'&'), QStringLiteral("File"));
    QAction *quit = menus.first()->menu()->actions().last();
    QCOMPARE(quit->text().remove(u'&'), QStringLiteral("Quit"));
    QCOMPARE(quit->shortcut(), QKeySequence(QStringLiteral("Ctrl+Q")));
}

void tst_MainWindow::closingOnlyHides()
{
    QPointer<MainWindow> window = new MainWindow(nullptr);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    QVERIFY(window->close());
    QVERIFY(window);
    QVERIFY(!window->isVisible());
    delete window;
}

QTEST_MAIN(tst_MainWindow)
#include "tst_MainWindow.moc"
