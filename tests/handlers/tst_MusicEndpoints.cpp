// SPDX-License-Identifier: GPL-3.0-or-later
// The song list and the song download over loopback, against a library in a home folder of the test's own.

#include "EndpointActivity.h"
#include "EndpointContext.h"
#include "HTTPServer.h"
#include "LibraryWriter.h"
#include "LoopbackClient.h"
#include "LoopbackServer.h"
#include "MusicLibrary.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThreadPool>

using namespace Qt::StringLiterals;

namespace {

const QByteArray noLibrary = "Couldn't find iTunes Library XML file. Do you have iTunes installed?";

QByteArray failed(const QByteArray &what)
{
    return plainTextResponse("An unexpected error occurred sending " + what, "400 Bad Request");
}

QByteArray notFound(const QByteArray &id)
{
    return failed("the song '" + id + "': No song with track ID '" + id + "' could be found.");
}

} // namespace

class tst_MusicEndpoints : public QObject
{
    Q_OBJECT

    QString media(const QString &name) const { return m_home.filePath("Media/" + name); }
    QString libraryPath() const { return m_home.filePath(u"Music/iTunes/iTunes Music Library.xml"_s); }
    QByteArray get(const QByteArray &target)
    {
        return fetch(m_server.serverPort(), "GET " + target + " HTTP/1.1\r\n\r\n");
    }

    QTemporaryDir m_home;
    QThreadPool m_workers;
    MusicLibrary m_library{m_home.path(), m_workers};
    EndpointActivity m_activity;
    const EndpointContext m_endpoints{&m_library, &m_activity};
    HTTPServer m_server{loopbackOptions()};

private slots:
    void initTestCase()
    {
        m_server.setEndpointContext(&m_endpoints);
        m_server.start();
    }

    // The second song's name is decomposed in the library, composed on disk; gone, it is named as the library has it.
    void listsAndDownloadsByteForByte()
    {
        QCOMPARE(get("/getSong?xx=101"), notFound("101")); // no list yet
        QCOMPARE(get("/getSongList"), failed("the song list: " + noLibrary));
        // Several times what one write sends; a piece out of place shows, as 37 divides no power of two.
        const QByteArray large = QByteArray("0123456789abcdefghijklmnopqrstuvwxyz!").repeated(90000);
        const QString composed = media(u"Zo\u00eb & Co.m4a"_s);
        QVERIFY(writeFile(media(u"large.mp3"_s), large) && writeFile(composed, "small"));
        const QString decomposed = composed.normalized(QString::NormalizationForm_D);
        const QList<TestTrack> tracks{{101, u"Large"_s, u"Band"_s, {}, locationOf(media(u"large.mp3"_s))},
                                      {102, u"Zoë"_s, {}, {}, locationOf(decomposed)}};
        QVERIFY(writeFile(libraryPath(), libraryXml(tracks)));
        QCOMPARE(get("/getSongList"), plainTextResponse("<songs>\r\n<song><trackid>101</trackid><name>Large</name><album>Un"
                                             "known Album</album><artist>Band</artist><filename>large.mp3</filename>"
                                             "</song>\r\n<song><trackid>102</trackid><name>Zoe</name><album>Unknown "
                                             "Album</album><artist>Unknown Artist</artist><filename>Zoe? &amp; Co.m4a"
                                             "</filename></song>\r\n</songs>"));
        QVERIFY(get("/getSong?xx=101") == plainTextResponse(large));
        QCOMPARE(get("/getSong?xx=102"), plainTextResponse("small"));
        for (const QByteArray unknown : {"1234", "0101", "+101", "101&y=2", ""})
            QCOMPARE(get("/getSong?xx=" + unknown), notFound(unknown));
        QVERIFY(QFile::remove(composed));
        const QByteArray named = media(u"Zoe? & Co.m4a"_s).toLatin1();
        QCOMPARE(get("/getSong?xx=102"), failed("the song '" + named + "': An unexpected error occurred sending song: "
                                                + named));
    }

    void download_data()
    {
        QTest::addColumn<QString>("inLibrary");
        QTest::addColumn<QString>("onDisk");
        QTest::addColumn<QByteArray>("contents");
        QTest::addColumn<QByteArray>("response");

        const QString cafe = u"Caf\u00e9.mp3"_s;
        QTest::addRow("composed in the library, decomposed on disk")
            << cafe << cafe.normalized(QString::NormalizationForm_D) << QByteArray("song") << plainTextResponse("song");
        const QByteArray empty = media(u"empty.mp3"_s).toLatin1();
        QTest::addRow("an empty file") << u"empty.mp3"_s << u"empty.mp3"_s << QByteArray()
                                       << failed("the song '" + empty + "': An unexpected error occurred sending song: "
                                                 + empty);
    }

    void download()
    {
        QFETCH(QString, inLibrary);
        QFETCH(QString, onDisk);
        QFETCH(QByteArray, contents);
        QVERIFY(writeFile(media(onDisk), contents));
        QVERIFY(writeFile(libraryPath(), libraryXml({{5, u"Song"_s, {}, {}, locationOf(media(inLibrary))}})));
        QVERIFY(get("/getSongList").startsWith("HTTP/1.1 200 OK"));
        QTEST(get("/getSong?xx=5"), "response");
    }

    // A large library is listed in two halves; the body keeps the library's order, the index takes the songs of
    // both halves and the later of two tracks with one ID, follows each list that succeeds, and outlives a list that
    // fails: the library gone, or cut short.
    void theIndexFollowsTheLatestListThatSucceeded()
    {
        QVERIFY(writeFile(media(u"a.mp3"_s), "a") && writeFile(media(u"b.mp3"_s), "b"));
        const auto line = [](int id, const QByteArray &file = "a.mp3") {
            return "<song><trackid>" + QByteArray::number(id) + "</trackid><name>Song</name><album>Unknown Album"
                   "</album><artist>Unknown Artist</artist><filename>" + file + "</filename></song>\r\n";
        };
        QList<TestTrack> tracks;
        QList<qint64> allButTheFirst;
        QByteArray all = "<songs>\r\n";
        for (int id = 1; id <= 2500; ++id) {
            tracks.append({id, u"Song"_s, {}, {}, locationOf(media(u"a.mp3"_s))});
            allButTheFirst.append(id + 1);
            all += line(id);
        }
        tracks.append({2, u"Song"_s, {}, {}, locationOf(media(u"b.mp3"_s))});
        all += line(2, "b.mp3") + "</songs>";
        QVERIFY(writeFile(libraryPath(), libraryXml(tracks, {{u"BlackBerry"_s, allButTheFirst}})));
        QCOMPARE(get("/getSongList"), plainTextResponse(all));
        QCOMPARE(get("/getSong?xx=1"), plainTextResponse("a"));
        QCOMPARE(get("/getSongList?device=bb10"), plainTextResponse(all.remove(9, line(1).size())));
        QCOMPARE(get("/getSong?xx=1"), notFound("1"));

        QVERIFY(QFile::remove(libraryPath()));
        QCOMPARE(get("/getSongList"), failed("the song list: " + noLibrary));
        QVERIFY(writeFile(libraryPath(), libraryXml(tracks).chopped(20)));
        const QByteArray path = libraryPath().toUtf8();
        QCOMPARE(get("/getSongList"), failed("the song list: Unable to load iTunes Library XML file. (" + path + ")"));
        for (const QByteArray id : {"1250", "1251", "2500"})
            QCOMPARE(get("/getSong?xx=" + id), plainTextResponse("a"));
        QCOMPARE(get("/getSong?xx=2"), plainTextResponse("b"));
        QCOMPARE(get("/getSong?xx=1"), notFound("1"));
    }

    // A library copied from a Windows computer finds its songs below the copy of its music folder next to the
    // library file; a Location outside that folder is not remapped and fails as any missing file does.
    void downloadsFromALibraryCopiedFromAnotherComputer()
    {
        QVERIFY(writeFile(m_home.filePath(u"Music/iTunes/iTunes Media/Music/Band/song.mp3"_s), "copied"));
        const QList<TestTrack> tracks{
            {7, u"Song"_s, {}, {}, u"file://localhost/c:/Users/Ana/Music/iTunes/iTunes%20Media/Music/Band/song.mp3"_s},
            {8, u"Song"_s, {}, {}, u"file://localhost/C:/Users/Ana/Music/iTunes/Music/Band/song.mp3"_s}};
        QVERIFY(writeFile(libraryPath(), libraryXml(tracks).replace("<key>Major", "<key>Music Folder</key><string>"
                          "file://localhost/C:/Users/Ana/Music/iTunes/iTunes%20Media/</string><key>Major")));
        QVERIFY(get("/getSongList").startsWith("HTTP/1.1 200 OK"));
        QCOMPARE(get("/getSong?xx=7"), plainTextResponse("copied"));
        const QByteArray outside = "/C:/Users/Ana/Music/iTunes/Music/Band/song.mp3";
        QCOMPARE(get("/getSong?xx=8"), failed("the song '" + outside + "': An unexpected error occurred sending song: "
                                              + outside));
    }

    // Progress of a download many write steps long reaches the window a few times a second at most, and the last
    // figure (what did go out) always arrives, right before the end.
    void downloadProgressIsSampled_data()
    {
        QTest::addColumn<bool>("whole");
        QTest::newRow("whole") << true;
        QTest::newRow("cut short by the handset") << false;
    }
    void downloadProgressIsSampled()
    {
        QFETCH(bool, whole);
        const QByteArray song = patternBytes(16 << 20);
        QVERIFY(!writeOneSongLibrary(m_home.path(), song).isEmpty());
        QVERIFY(get("/getSongList").startsWith("HTTP/1.1 200 OK"));
        QSignalSpy progress(&m_activity, &EndpointActivity::downloadProgress);
        QSignalSpy finished(&m_activity, &EndpointActivity::downloadFinished);
        QElapsedTimer elapsed;
        elapsed.start();
        {
            LoopbackClient client(m_server.serverPort(), 64 * 1024); // many small write steps
            QVERIFY(client.send("GET /getSong?xx=7 HTTP/1.1\r\n\r\n"));
            QCOMPARE(client.readToEnd(10000, whole ? -1 : 1 << 20), whole);
            if (whole)
                QCOMPARE(client.body(), song);
            else
                client.reset();
        }
        QTRY_COMPARE(finished.size(), 1);
        const int mostReports = 1 + int(elapsed.elapsed() / 250); // four a second, and the last
        QVERIFY2(progress.size() <= mostReports, qPrintable(QString::number(progress.size())));
        QVERIFY(!progress.isEmpty());
        const qint64 last = progress.constLast().at(1).toLongLong();
        QCOMPARE(last == song.size(), whole);
        QVERIFY(last > 0);
        QCOMPARE(finished.constFirst().at(1).toBool(), whole);
    }
};

QTEST_GUILESS_MAIN(tst_MusicEndpoints)
#include "tst_MusicEndpoints.moc"
