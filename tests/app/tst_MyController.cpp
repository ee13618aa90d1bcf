// The address report: which addresses it names, the C buffer of getAddress(), and the alert the button shows.

#include "MyController.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <functional>

namespace {

const QString likelyHeader = QStringLiteral("Your IP address is likely one of the following:\n\n");

HostAddressSource fixedAddresses(const QStringList &addresses)
{
    return {[addresses] { return addresses; }, [] { return QString(); }};
}

HostAddressSource fixedPrimaryAddress(const QString &address)
{
    return {[] { return QStringList(); }, [address] { return address; }};
}

// What the test saw of the alert while it was up.
struct AlertSeen
{
    bool shown = false;
    QString title;
    QString text;
    Qt::TextFormat format = Qt::AutoText;
    QStringList buttonTexts;
    QMessageBox::StandardButtons standardButtons;
    QWidget *parent = nullptr;
};

// Waits in the alert's own event loop for it to come up, looks at it, then clicks its button as a user would.
void dismissAlertWhenShown(AlertSeen &seen, std::function<void()> whileShown = {})
{
    auto *poll = new QTimer;
    poll->setInterval(10);
    QObject::connect(poll, &QTimer::timeout, poll, [poll, &seen, whileShown] {
        auto *alert = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!alert)
            return;
        poll->stop();
        poll->deleteLater();
        seen.shown = true;
        seen.title = alert->windowTitle();
        seen.text = alert->text();
        seen.format = alert->textFormat();
        for (QAbstractButton *button : alert->buttons())
            seen.buttonTexts.append(button->text());
        seen.standardButtons = alert->standardButtons();
        seen.parent = alert->parentWidget();
        if (whileShown)
            whileShown();
        QTest::mouseClick(alert->buttons().constFirst(), Qt::LeftButton);
    });
    poll->start();
}

} // namespace

class tst_MyController : public QObject
{
    Q_OBJECT

private slots:
    void reportNamesLikelyHomeNetworkAddresses_data();
    void reportNamesLikelyHomeNetworkAddresses();
    void getAddressCopiesThroughAFixedBuffer_data();
    void getAddressCopiesThroughAFixedBuffer();
    void alertShowsTheReport_data();
    void alertShowsTheReport();
    void alertBelongsToTheWindow();
    void secondRequestWhileTheAlertIsUpShowsNoSecondAlert();
};

void tst_MyController::reportNamesLikelyHomeNetworkAddresses_data()
{
    QTest::addColumn<QStringList>("addresses");
    QTest::addColumn<QString>("report");

    QTest::addRow("link-local, loopback and one home address")
        << QStringList{"fe80::1%en0", "127.0.0.1", "192.168.1.20"} << QStringLiteral("\n192.168.1.20");
    QTest::addRow("two private addresses get the heading")
        << QStringList{"10.0.0.5", "192.168.0.3"} << likelyHeader + QStringLiteral("\n10.0.0.5\n192.168.0.3");
    QTest::addRow("order kept, others left out")
        << QStringList{"192.168.1.2", "172.16.0.1", "::1", "10.1.2.3", "fe80::2"}
        << likelyHeader + QStringLiteral("\n192.168.1.2\n10.1.2.3");
    QTest::addRow("carrier-grade NAT address not named") << QStringList{"100.64.0.1"} << QString();
    QTest::addRow("10 not at the start not named") << QStringList{"1.10.2.3"} << QString();
    QTest::addRow("192 without its dot not named") << QStringList{"1921.68.0.1"} << QString();
    QTest::addRow("five characters starting 192. named") << QStringList{"192.1"} << QStringLiteral("\n192.1");
    QTest::addRow("four characters 10.1 too short") << QStringList{"10.1"} << QString();
    QTest::addRow("loopback only") << QStringList{"127.0.0.1", "::1"} << QString();
    QTest::addRow("no addresses at all") << QStringList{} << QString();
}

void tst_MyController::reportNamesLikelyHomeNetworkAddresses()
{
    QFETCH(QStringList, addresses);
    QFETCH(QString, report);

    MyController controller(fixedAddresses(addresses));
    QCOMPARE(controller.getAddressB(), report);
}

void tst_MyController::getAddressCopiesThroughAFixedBuffer_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("result");

    QTest::addRow("ordinary address") << QStringLiteral("192.168.1.20") << QStringLiteral("192.168.1.20");
    QTest::addRow("IPv6 with scope") << QStringLiteral("fe80::1%eth0") << QStringLiteral("fe80::1%eth0");
    QTest::addRow("no address") << QString() << QString();
    QTest::addRow("Latin-1 beyond ASCII") << QStringLiteral("fe80::1%r\u00e9seau") << QStringLiteral("fe80::1%r\u00e9seau");
    QTest::addRow("not Latin-1") << QStringLiteral("fe80::1%\u0441\u0435\u0442\u044c") << QStringLiteral("error");
    QTest::addRow("255 bytes fit with the NUL") << QString(255, u'7') << QString(255, u'7');
    QTest::addRow("256 bytes leave no room for the NUL") << QString(256, u'7') << QStringLiteral("error");
    QTest::addRow("huge address") << QString(100000, u'7') << QStringLiteral("error");
}

void tst_MyController::getAddressCopiesThroughAFixedBuffer()
{
    QFETCH(QString, address);
    QFETCH(QString, result);

    MyController controller(fixedPrimaryAddress(address));
    QCOMPARE(controller.getAddress(), result);
}

void tst_MyController::alertShowsTheReport_data()
{
    QTest::addColumn<QStringList>("addresses");
    QTest::addColumn<QString>("text");

    QTest::addRow("two addresses") << QStringList{"10.0.0.5", "192.168.0.3"}
                                   << likelyHeader + QStringLiteral("\n10.0.0.5\n192.168.0.3");
    QTest::addRow("one address keeps its leading newline") << QStringList{"127.0.0.1", "192.168.1.20"}
                                                           << QStringLiteral("\n192.168.1.20");
    QTest::addRow("nothing likely says Unknown") << QStringList{"127.0.0.1", "::1"} << QStringLiteral("Unknown");
}

void tst_MyController::alertShowsTheReport()
{
    QFETCH(QStringList, addresses);
    QFETCH(QString, text);

    MyController controller(fixedAddresses(addresses));
    AlertSeen seen;
    dismissAlertWhenShown(seen);
    controller.MyClick();

    QVERIFY(seen.shown);
    QCOMPARE(seen.title, QStringLiteral("IP Address"));
    QCOMPARE(seen.text, text);
    QCOMPARE(seen.format, Qt::PlainText);
    QCOMPARE(seen.buttonTexts, QStringList{"OK"});
    QCOMPARE(seen.standardButtons, QMessageBox::Ok);
    QVERIFY(!QApplication::activeModalWidget());
}

void tst_MyController::alertBelongsToTheWindow()
{
    QWidget window;
    window.show();
    MyController controller(fixedAddresses({"192.168.1.20"}));
    controller.setAlertParent(&window);
    AlertSeen seen;
    dismissAlertWhenShown(seen);
    controller.MyClick();

    QVERIFY(seen.shown);
    QCOMPARE(seen.parent, &window);
}

void tst_MyController::secondRequestWhileTheAlertIsUpShowsNoSecondAlert()
{
    MyController controller(fixedAddresses({"192.168.1.20"}));
    int alertsUp = 0;
    AlertSeen seen;
    dismissAlertWhenShown(seen, [&] {
        controller.MyClick(); // returns at once: the alert already up is brought forward instead
        const QWidgetList windows = QApplication::topLevelWidgets();
        alertsUp = int(std::count_if(windows.cbegin(), windows.cend(), [](QWidget *window) {
            return qobject_cast<QMessageBox *>(window) && window->isVisible();
        }));
    });
    controller.MyClick();

    QVERIFY(seen.shown);
    QCOMPARE(alertsUp, 1);
}

QTEST_MAIN(tst_MyController)
#include "tst_MyController.moc"
