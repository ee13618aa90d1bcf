// The shell in process: the address report the user reads off to the handset, the status line on a taken port, a
// second launch asking the first to reopen. tst_PellisorBinary drives the real executable.

#include "HTTPServer.h"
#include "LoopbackServer.h"
#include "MainWindow.h"
#include "MyController.h"
#include "SingleInstance.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>
#include <QTimer>
#include <QUuid>

namespace {

const QString likely = QStringLiteral("Your IP address is likely one of the following:\n\n");

// Clicks the modal alert away once it is up, as the user would; returns its title, its text and its buttons' texts.
QStringList showAndDismissAlert(MyController &controller)
{
    QStringList seen;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto *alert = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!alert)
            return;
        poll.stop();
        seen = QStringList{alert->windowTitle(), alert->text()};
        for (QAbstractButton *button : alert->buttons())
            seen.append(button->text());
        alert->buttons().constFirst()->click();
    });
    poll.start(10);
    controller.MyClick();
    return seen;
}

} // namespace

class tst_DesktopShell : public QObject
{
    Q_OBJECT

private slots:
    void alertListsLikelyHomeNetworkAddresses_data();
    void alertListsLikelyHomeNetworkAddresses();
    void getAddressSaysErrorWhenTheAddressDoesNotFit_data();
    void getAddressSaysErrorWhenTheAddressDoesNotFit();
    void statusLineExplainsATakenPort();
    void secondLaunchAsksTheFirstToReopen();
};

void tst_DesktopShell::alertListsLikelyHomeNetworkAddresses_data()
{
    QTest::addColumn<QStringList>("addresses");
    QTest::addColumn<QString>("alert");

    QTest::addRow("one 192. among others, no heading")
        << QStringList{"fe80::1%en0", "127.0.0.1", "192.168.1.20"} << QStringLiteral("\n192.168.1.20");
    QTest::addRow("two in host order, with the heading")
        << QStringList{"10.0.0.5", "172.16.0.5", "192.168.0.3"} << likely + QStringLiteral("\n10.0.0.5\n192.168.0.3");
    QTest::addRow("other private ranges and lookalikes left out")
        << QStringList{"172.16.0.5", "169.254.3.4", "100.64.0.1", "1.10.2.3", "1921.68.0.1"}
        << QStringLiteral("Unknown");
    QTest::addRow("five characters starting 192. taken") << QStringList{"192.1"} << QStringLiteral("\n192.1");
    QTest::addRow("10.1 too short") << QStringList{"10.1", "::1"} << QStringLiteral("Unknown");
    QTest::addRow("no addresses at all") << QStringList{} << QStringLiteral("Unknown");
}

void tst_DesktopShell::alertListsLikelyHomeNetworkAddresses()
{
    QFETCH(QStringList, addresses);
    QFETCH(QString, alert);

    MyController controller({[addresses] { return addresses; }, [] { return QString(); }});
    QCOMPARE(showAndDismissAlert(controller), (QStringList{"IP Address", alert, "OK"}));
    QCOMPARE(controller.getAddressB(), alert == QLatin1String("Unknown") ? QString() : alert);
}

void tst_DesktopShell::getAddressSaysErrorWhenTheAddressDoesNotFit_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("result");

    QTest::addRow("Latin-1 scope name") << QStringLiteral("fe80::1%r\u00e9seau") << QStringLiteral("fe80::1%r\u00e9seau");
    QTest::addRow("not Latin-1") << QStringLiteral("fe80::1%\u0441\u0435\u0442\u044c") << QStringLiteral("error");
    QTest::addRow("255 bytes fit with the NUL") << QString(255, u'7') << QString(255, u'7');
    QTest::addRow("256 bytes do not") << QString(256, u'7') << QStringLiteral("error");
}

void tst_DesktopShell::getAddressSaysErrorWhenTheAddressDoesNotFit()
{
    QFETCH(QString, address);
    QFETCH(QString, result);

    MyController controller({[] { return QStringList(); }, [address] { return address; }});
    QCOMPARE(controller.getAddress(), result);
}

void tst_DesktopShell::statusLineExplainsATakenPort()
{
    QTcpServer otherProgram;
    QVERIFY(otherProgram.listen(QHostAddress::LocalHost));
    HTTPServer server(loopbackOptions(otherProgram.serverPort()));
    MainWindow window(&server);

    server.start();
    QCOMPARE(window.statusText(), QStringLiteral("Not serving: port 4556 is in use by another program."));

    otherProgram.close();
    server.start();
    QCOMPARE(window.statusText(), QStringLiteral("Serving on port %1").arg(server.serverPort()));
}

void tst_DesktopShell::secondLaunchAsksTheFirstToReopen()
{
    const QString name = QStringLiteral("pellisor-test-") + QUuid::createUuid().toString(QUuid::Id128);
    SingleInstance first(name);
    QSignalSpy reopenRequests(&first, &SingleInstance::reopenRequested);
    QVERIFY(!first.handOverToRunningInstance());

    QVERIFY(SingleInstance(name).handOverToRunningInstance());
    QVERIFY(reopenRequests.wait());
}

QTEST_MAIN(tst_DesktopShell)
#include "tst_DesktopShell.moc"
