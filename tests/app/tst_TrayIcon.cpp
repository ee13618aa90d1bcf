// The tray icon: a click brings the window back, its menu offers the window, the report and quitting.

#include "TrayIcon.h"

#include <QMenu>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTest>

class tst_TrayIcon : public QObject
{
    Q_OBJECT

private slots:
    void clickShowsTheWindow_data();
    void clickShowsTheWindow();
    void menuOffersWindowReportAndQuit();
};

void tst_TrayIcon::clickShowsTheWindow_data()
{
    QTest::addColumn<QSystemTrayIcon::ActivationReason>("reason");
    QTest::addColumn<int>("showRequests");

    QTest::addRow("click") << QSystemTrayIcon::Trigger << 1;
    QTest::addRow("double click") << QSystemTrayIcon::DoubleClick << 1;
    QTest::addRow("context menu opened") << QSystemTrayIcon::Context << 0;
    QTest::addRow("middle click") << QSystemTrayIcon::MiddleClick << 0;
}

void tst_TrayIcon::clickShowsTheWindow()
{
    QFETCH(QSystemTrayIcon::ActivationReason, reason);
    QFETCH(int, showRequests);

    TrayIcon tray;
    QSignalSpy shows(&tray, &TrayIcon::showWindowRequested);
    emit tray.systemTrayIcon()->activated(reason);
    QCOMPARE(shows.size(), showRequests);
}

void tst_TrayIcon::menuOffersWindowReportAndQuit()
{
    TrayIcon tray;
    QSignalSpy shows(&tray, &TrayIcon::showWindowRequested);
    QSignalSpy reports(&tray, &TrayIcon::addressReportRequested);
    QSignalSpy quits(&tray, &TrayIcon::quitRequested);

    QList<QAction *> actions = tray.systemTrayIcon()->contextMenu()->actions();
    actions.removeIf([](QAction *action) { return action->isSeparator(); });
    QStringList texts;
    for (QAction *action : actions)
        texts.append(action->text());
    QCOMPARE(texts, (QStringList{"Show Pellisor", "Show IP Address", "Quit"}));

    actions.at(0)->trigger();
    actions.at(1)->trigger();
    actions.at(2)->trigger();
    QCOMPARE(shows.size(), 1);
    QCOMPARE(reports.size(), 1);
    QCOMPARE(quits.size(), 1);
}

QTEST_MAIN(tst_TrayIcon)
#include "tst_TrayIcon.moc"
