// SPDX-License-Identifier: GPL-3.0-or-later
// The shell in process: the address report the user reads off to the handset, what the window's panels say of the
// library and the handsets, a second launch asking the first to reopen. tst_PellisorBinary drives the real executable.

#include "EndpointContext.h"
#include "HTTPServer.h"
#include "LibraryMenu.h"
#include "LibraryPreferences.h"
#include "LibraryStatusReader.h"
#include "LibraryWriter.h"
#include "LoopbackClient.h"
#include "LoopbackServer.h"
#include "MainWindow.h"
#include "MusicFolderScan.h"
#include "MusicLibrary.h"
#include "MyController.h"
#include "SingleInstance.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QThreadPool>
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
    void initTestCase();
    void init();
    void panelsTellTheState_data();
    void panelsTellTheState();
    void unreadablePreferencesMovedAsideFromTheWindow();
    void folderLibraryBeforeItsFirstScan();
    void downloadSizesInSIUnits();
    void alertListsLikelyHomeNetworkAddresses_data();
    void alertListsLikelyHomeNetworkAddresses();
    void getAddressSaysErrorWhenTheAddressDoesNotFit_data();
    void getAddressSaysErrorWhenTheAddressDoesNotFit();
    void statusLineExplainsATakenPort();
    void secondLaunchAsksTheFirstToReopen();

private:
    // The application's wiring between endpoints and window, as main() makes it.
    void connectWindow(MainWindow &window)
    {
        connect(&m_library, &MusicLibrary::songListReading, window.libraryStatusReader(),
                &LibraryStatusReader::songListReading);
        connect(&m_library, &MusicLibrary::songListMade, window.libraryStatusReader(),
                &LibraryStatusReader::songListMade);
        connect(&m_activity, &EndpointActivity::songListSent, &window, &MainWindow::showSongList);
        connect(&m_activity, &EndpointActivity::songListFailed, &window, &MainWindow::showSongListFailure);
        connect(&m_activity, &EndpointActivity::downloadRefused, &window, &MainWindow::showRefusal);
    }
    QString home(const QString &path = {}) const { return m_home.filePath(path); }

    QTemporaryDir m_config;
    QTemporaryDir m_home;
    QThreadPool m_workers;
    MusicLibrary m_library{m_home.path(), m_workers};
    EndpointActivity m_activity;
    const EndpointContext m_endpoints{&m_library, &m_activity};
    HTTPServer m_server{loopbackOptions()};
};

void tst_DesktopShell::initTestCase()
{
    qputenv("XDG_CONFIG_HOME", m_config.path().toUtf8()); // Pellisor's settings, away from the user's
    qputenv("XDG_DATA_HOME", m_config.filePath("data").toUtf8()); // and the library it makes of a music folder
    m_server.setEndpointContext(&m_endpoints);
    m_server.start();
}

void tst_DesktopShell::init()
{
    QString error;
    for (const char *folder : {"Library", "Music", "Media"})
        QVERIFY(QDir(home(folder)).removeRecursively());
    QVERIFY(LibraryChoice(home()).useDefaultLibrary(&error));
}

void tst_DesktopShell::panelsTellTheState_data()
{
    QTest::addColumn<QByteArray>("library");     // chosen from Media/, unless null
    QTest::addColumn<QStringList>("songs");      // files written below Media/
    QTest::addColumn<QByteArrayList>("requests"); // sent by a handset, in order; "-name" removes Media/name
    QTest::addColumn<QStringList>("shown");      // label or button name, then what it says (a pattern), or "hidden"

    const QByteArray threeSongs = libraryXml({{1, "One", {}, {}, "file://MEDIA/1.mp3"},
                                              {2, "Two", {}, {}, "file://MEDIA/2.mp3"},
                                              {3, "Three", {}, {}, "file://MEDIA/3.mp3"}});
    QTest::addRow("no library") << QByteArray() << QStringList{} << QByteArrayList{}
                                << QStringList{"libraryDetails", "^No iTunes library here, so handsets get no songs",
                                               "chooseLibrary", "Choose Library…", "librarySongs", "hidden"};
    QTest::addRow("chosen") << threeSongs << QStringList{"1.mp3", "2.mp3", "3.mp3"} << QByteArrayList{}
                            << QStringList{"libraryPath", "/Media/Library.xml$", "libraryNote", "^Chosen: ",
                                           "libraryDetails", "^3 tracks; read today at", "librarySongs",
                                           "^3 songs for the handset$", "chooseLibrary", "hidden",
                                           "chooseMusicFolder", "hidden"};
    QTest::addRow("unreadable") << QByteArray("ID3") << QStringList{} << QByteArrayList{}
                                << QStringList{"libraryDetails", "^This file cannot be read as an iTunes library",
                                               "chooseLibrary", "Choose Library…"};
    QTest::addRow("missing files") << threeSongs << QStringList{"3.mp3"} << QByteArrayList{}
                                   << QStringList{"librarySongs", "^3 songs; 2 files not found$", "chooseMusicFolder",
                                                  "Choose Music Folder…"};
    QTest::addRow("vanished, then a list")
        << threeSongs << QStringList{} << QByteArrayList{"-Library.xml", "/getSongList"}
        << QStringList{"libraryDetails", "^No iTunes library here", "librarySongs", "hidden"};
    // What the handset just got, without a second read of the library: here the one song of its playlist.
    QTest::addRow("a handset's own list")
        << libraryXml({{1, "One", {}, {}, "file://MEDIA/1.mp3"}, {2, "Two", {}, {}, "file://MEDIA/2.mp3"}},
                      {{"BlackBerry", {2}}})
        << QStringList{"1.mp3"} << QByteArrayList{"/getSongList?device=bb10"}
        << QStringList{"librarySongs", "^1 song; 1 file not found$"};
    QTest::addRow("failed list") << QByteArray() << QStringList{} << QByteArrayList{"/getSongList"}
                                 << QStringList{"lastSongList", "^Last list: none sent to 127.0.0.1, today at .*It "
                                                                "was told: Couldn't find iTunes Library XML file"};
    QTest::addRow("failed download")
        << threeSongs << QStringList{"3.mp3"} << QByteArrayList{"/getSongList", "/getSong?xx=2", "/getSong?xx=9"}
        << QStringList{"lastSongList", "^Last list: 3 songs to 127.0.0.1", "lastRefusal",
                       "^Not sent: 127.0.0.1 asked for track 9, which is not in the latest song list"};
    QTest::addRow("missing file asked for") << threeSongs << QStringList{} << QByteArrayList{"/getSongList", "/getSong?xx=2"}
                                            << QStringList{"lastRefusal", "^Not sent: 127.0.0.1 asked for /.*/Media/2.mp3, "
                                                                          "whose file cannot be found"};
}

void tst_DesktopShell::panelsTellTheState()
{
    QFETCH(QByteArray, library);
    QFETCH(QStringList, songs);
    QFETCH(QByteArrayList, requests);
    QFETCH(QStringList, shown);
    for (const QString &song : songs)
        QVERIFY(writeFile(home("Media/" + song), "song"));
    HTTPServer idle(loopbackOptions());
    MainWindow window(&idle, home());
    connectWindow(window);
    QSignalSpy read(&window, &MainWindow::libraryShown);
    QVERIFY(read.wait()); // so that what follows shows only if the window reads the library again
    if (!library.isNull()) {
        QVERIFY(writeFile(home("Media/Library.xml"), library.replace("MEDIA", home("Media").toUtf8())));
        window.libraryMenu()->chooseLibrary(home("Media/Library.xml"));
        QVERIFY(read.wait());
    }
    for (const QByteArray &target : requests) {
        if (target.startsWith('-'))
            QVERIFY(QFile::remove(home("Media/" + target.sliced(1))));
        else
            fetch(m_server.serverPort(), "GET " + target + " HTTP/1.1\r\n\r\n");
    }

    for (qsizetype i = 0; i + 1 < shown.size(); i += 2) {
        auto *widget = window.findChild<QWidget *>(shown[i]);
        QVERIFY2(widget, qPrintable(shown[i]));
        const auto text = [widget] {
            if (auto *button = qobject_cast<QPushButton *>(widget))
                return button->text();
            return widget->toolTip().isEmpty() ? qobject_cast<QLabel *>(widget)->text() : widget->toolTip();
        };
        if (shown[i + 1] == QLatin1String("hidden"))
            QTRY_VERIFY2(widget->isHidden(), qPrintable(shown[i] + ": " + text()));
        else
            QTRY_VERIFY2(!widget->isHidden() && text().contains(QRegularExpression(shown[i + 1])),
                         qPrintable(shown[i] + ": " + text()));
    }
}

// Not a library gone missing, to be chosen again: one on its way.
void tst_DesktopShell::folderLibraryBeforeItsFirstScan()
{
    QString error;
    QVERIFY(writeFile(MusicFolderScan::libraryPath(), libraryXml({})));
    QVERIFY(LibraryChoice(home()).chooseLibrary(MusicFolderScan::libraryPath(), &error));
    QVERIFY(QFile::remove(MusicFolderScan::libraryPath()));
    HTTPServer idle(loopbackOptions());
    MainWindow window(&idle, home());
    QSignalSpy read(&window, &MainWindow::libraryShown);
    QVERIFY(read.wait());
    QVERIFY(window.findChild<QLabel *>("libraryDetails")->text().startsWith("Pellisor makes this library"));
    QVERIFY(window.findChild<QPushButton *>("chooseLibrary")->isHidden());
}

void tst_DesktopShell::unreadablePreferencesMovedAsideFromTheWindow()
{
    const QString preferences = LibraryPreferences::preferencesFilePath(home());
    QVERIFY(writeFile(preferences, "bplist00 cut short") && writeFile(home("Media/Library.xml"), libraryXml({})));
    HTTPServer idle(loopbackOptions());
    MainWindow window(&idle, home());
    QVERIFY(!window.libraryMenu()->chooseLibrary(home("Media/Library.xml")));
    auto *moveAside = window.findChild<QPushButton *>("moveAside");
    QVERIFY(!moveAside->isHidden());

    moveAside->click();
    QCOMPARE(LibraryPreferences::recentDatabasePath(home()), home("Media/Library.xml"));
    QFile aside(preferences + ".unreadable");
    QVERIFY(aside.open(QIODevice::ReadOnly) && aside.readAll() == "bplist00 cut short");
    QVERIFY(moveAside->isHidden());
    QVERIFY(window.findChild<QLabel *>("libraryNote")->text().endsWith(aside.fileName() + '.'));
}

void tst_DesktopShell::downloadSizesInSIUnits()
{
    HTTPServer idle(loopbackOptions());
    MainWindow window(&idle, home());
    window.downloadStarted(1, "127.0.0.1", "song.mp3", 30'000'000);
    window.downloadProgress(1, 16'000'000);
    const QList<QLabel *> labels = window.findChildren<QLabel *>();
    QVERIFY(std::any_of(labels.begin(), labels.end(), [](QLabel *label) {
        return label->text() == QLocale().toString(16.0, 'f', 1) + " MB of " + QLocale().toString(30.0, 'f', 1)
                                    + " MB to 127.0.0.1";
    }));
}

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
    MainWindow window(&server, home());

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
