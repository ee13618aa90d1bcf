// The delegate: the server's life follows the application's, and reopening brings the window back, centred.

#include "HTTPServer.h"
#include "LoopbackServer.h"
#include "MainWindow.h"
#include "PellisorAppDelegate.h"

#include <QScreen>
#include <QTest>

#include <functional>

namespace {

using WindowAction = std::function<void(QWidget &)>;

bool isCentredOnItsScreen(const QWidget &window)
{
    const QPoint offset = window.frameGeometry().center() - window.screen()->availableGeometry().center();
    // An odd difference in size cannot be split evenly.
    return qAbs(offset.x()) <= 1 && qAbs(offset.y()) <= 1;
}

} // namespace

class tst_PellisorAppDelegate : public QObject
{
    Q_OBJECT

private slots:
    void launchStartsTheServerAndTerminationStopsIt();
    void reopenBringsTheWindowBackCentred_data();
    void reopenBringsTheWindowBackCentred();
    void reopenWithoutAWindowDoesNothing();
};

void tst_PellisorAppDelegate::launchStartsTheServerAndTerminationStopsIt()
{
    HTTPServer server(loopbackOptions());
    PellisorAppDelegate delegate(&server);

    delegate.applicationDidFinishLaunching();
    QCOMPARE(server.state(), HTTPServer::HTTPServerStateRunning);
    QVERIFY(server.serverPort() != 0);

    delegate.applicationWillTerminate();
    QCOMPARE(server.state(), HTTPServer::HTTPServerStateIdle);
}

void tst_PellisorAppDelegate::reopenBringsTheWindowBackCentred_data()
{
    QTest::addColumn<WindowAction>("userAction");

    QTest::addRow("after it was closed") << WindowAction([](QWidget &window) { window.close(); });
    QTest::addRow("after it was moved") << WindowAction([](QWidget &window) {
        window.move(window.screen()->availableGeometry().topLeft() + QPoint(7, 11));
    });
    QTest::addRow("after it was moved and closed") << WindowAction([](QWidget &window) {
        window.move(window.screen()->availableGeometry().topLeft() + QPoint(3, 5));
        window.close();
    });
    QTest::addRow("after it was minimised")
        << WindowAction([](QWidget &window) { window.showMinimized(); });
}

void tst_PellisorAppDelegate::reopenBringsTheWindowBackCentred()
{
    QFETCH(WindowAction, userAction);

    MainWindow window(nullptr);
    PellisorAppDelegate delegate(nullptr);
    delegate.setWindow(&window);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    userAction(window);

    QCOMPARE(delegate.applicationShouldHandleReopen(), false);

    QVERIFY(window.isVisible());
    QVERIFY(!window.isMinimized());
    QTRY_VERIFY(window.isActiveWindow());
    QVERIFY(isCentredOnItsScreen(window));
}

void tst_PellisorAppDelegate::reopenWithoutAWindowDoesNothing()
{
    PellisorAppDelegate delegate(nullptr);
    {
        QWidget window;
        delegate.setWindow(&window);
    }
    QVERIFY(!delegate.window());
    QCOMPARE(delegate.applicationShouldHandleReopen(), false);
}

QTEST_MAIN(tst_PellisorAppDelegate)
#include "tst_PellisorAppDelegate.moc"
