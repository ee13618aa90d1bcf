// The window: its status line follows a real server through its states, and its button asks for the report.

#include "HTTPServer.h"
#include "LoopbackServer.h"
#include "MainWindow.h"

#include <QMenuBar>
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
    void statusLineExplainsATakenPort();
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

void tst_MainWindow::statusLineExplainsATakenPort()
{
    QTcpServer otherProgram;
    QVERIFY(otherProgram.listen(QHostAddress::LocalHost));
    HTTPServer server(loopbackOptions(otherProgram.serverPort()));
    MainWindow window(&server);

    server.start();

    QCOMPARE(server.state(), HTTPServer::HTTPServerStateIdle);
    QVERIFY(server.lastError());
    QCOMPARE(window.statusText(), QStringLiteral("Not serving: port 4556 is in use by another program."));
}

void tst_MainWindow::buttonAsksForTheAddressReport()
{
    MainWindow window(nullptr);
    const QList<QPushButton *> buttons = window.findChildren<QPushButton *>();
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
