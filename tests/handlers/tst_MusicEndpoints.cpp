// The song list and the song download over loopback, against a library in a home folder of the test's own.

#include "EndpointContext.h"
#include "HTTPServer.h"
#include "LibraryWriter.h"
#include "LoopbackClient.h"
#include "LoopbackServer.h"
#include "MusicLibrary.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <QThreadPool>

namespace {

QByteArray randomBytes(qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator generator(size);
    for (char &byte : bytes)
        byte = char(generator.bounded(256));
    return bytes;
}

QByteArray errorResponse(const QByteArray &message)
{
    return "HTTP/1.1 400 Bad Request\r\nContent-Type: text/plain\r\nConnection: close\r\nContent-Length: "
           + QByteArray::number(message.size()) + "\r\n\r\n" + message;
}

QByteArray get(quint16 port, const QByteArray &target)
{
    return fetch(port, "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
}

} // namespace

class tst_MusicEndpoints : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void answersWithoutALibrary();
    void listsAndDownloadsByteForByte();
    void listsOnlyTheDevicePlaylist();
    void keepsEverySongOfALargeListInTheIndex();
    void refusesUnknownTrackIds_data();
    void refusesUnknownTrackIds();
    void namesAFileThatWentAwayAfterTheList_data();
    void namesAFileThatWentAwayAfterTheList();
    void findsAFileSpelledInTheOtherNormalForm();
    void carriesOnWhenTheClientLeavesMidDownload();
    void cutsTheConnectionWhenTheFileShrinksMidDownload();

private:
    QString mediaPath(const QString &name) const { return m_home->path() + "/Media/" + name; }
    void writeMedia(const QString &name, const QByteArray &bytes);
    void writeLibrary(const QList<TestTrack> &tracks, const QList<TestPlaylist> &playlists = {});
    QString listAll(); // the list body, after checking its head

    std::unique_ptr<QTemporaryDir> m_home;
    QThreadPool m_workers;
    std::unique_ptr<MusicLibrary> m_library;
    EndpointContext m_endpoints;
    std::unique_ptr<HTTPServer> m_server;
    quint16 m_port = 0;
};

void tst_MusicEndpoints::init()
{
    m_home = std::make_unique<QTemporaryDir>();
    QDir().mkpath(m_home->path() + "/Media");
    m_library = std::make_unique<MusicLibrary>(m_home->path(), m_workers);
    m_endpoints.library = m_library.get();

    m_server = std::make_unique<HTTPServer>(loopbackOptions());
    m_server->setEndpointContext(&m_endpoints);
    m_server->start();
    m_port = m_server->serverPort();
}

void tst_MusicEndpoints::cleanup()
{
    m_server.reset();
    m_library.reset();
    m_home.reset();
}

void tst_MusicEndpoints::writeMedia(const QString &name, const QByteArray &bytes)
{
    QFile file(mediaPath(name));
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), bytes.size());
}

void tst_MusicEndpoints::writeLibrary(const QList<TestTrack> &tracks, const QList<TestPlaylist> &playlists)
{
    const QString path = m_home->path() + "/Music/iTunes/iTunes Music Library.xml";
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(libraryXml(tracks, playlists));
}

QString tst_MusicEndpoints::listAll()
{
    LoopbackClient client(m_port);
    client.send("GET /getSongList HTTP/1.1\r\n\r\n");
    if (!client.readToEnd())
        return {};
    const QByteArray body = client.body();
    const QByteArray expectedHead = "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nConnection: close\r\n"
                                    "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n";
    if (client.head() != expectedHead)
        return {};
    for (const char byte : body) {
        if (static_cast<unsigned char>(byte) >= 0x80)
            return {};
    }
    return QString::fromLatin1(body);
}

void tst_MusicEndpoints::answersWithoutALibrary()
{
    const QByteArray message = "An unexpected error occurred sending the song list: Couldn't find iTunes Library "
                               "XML file. Do you have iTunes installed?";
    QCOMPARE(message.size(), 120);
    QCOMPARE(get(m_port, "/getSongList"), errorResponse(message));
    QCOMPARE(fetch(m_port, "POST /getSongList?device=bb10 HTTP/1.1\r\n\r\n"), errorResponse(message));
}

void tst_MusicEndpoints::listsAndDownloadsByteForByte()
{
    const QByteArray large = randomBytes(3 * 1024 * 1024 + 17); // several times what one write sends
    writeMedia("large.mp3", large);
    writeMedia("Café & Co + plus.m4a", "tiny");
    writeLibrary({{101, "Large", "Band", "Album", locationOf(mediaPath("large.mp3"))},
                  {102, "Café", "Zoë & the Lanterns", std::nullopt, locationOf(mediaPath("Café & Co + plus.m4a"))}});

    const QString list = listAll();
    QCOMPARE(list, QString("<songs>\r\n"
                           "<song><trackid>101</trackid><name>Large</name><album>Album</album><artist>Band</artist>"
                           "<filename>large.mp3</filename></song>\r\n"
                           "<song><trackid>102</trackid><name>Cafe</name><album>Unknown Album</album>"
                           "<artist>Zoe &amp; the Lanterns</artist><filename>Cafe &amp; Co + plus.m4a</filename>"
                           "</song>\r\n</songs>"));

    LoopbackClient client(m_port);
    client.send("GET /getSong?xx=101 HTTP/1.1\r\n\r\n");
    QVERIFY(client.readToEnd());
    QCOMPARE(client.head(), QByteArray("HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nConnection: close\r\n"
                                       "Content-Length: 3145745\r\n\r\n"));
    QVERIFY(client.body() == large);

    // The three characters after "?" are not looked at; the method is not either.
    QCOMPARE(LoopbackClient(m_port).isConnected(), true);
    QVERIFY(fetch(m_port, "HEAD /getSong?abc102 HTTP/1.1\r\n\r\n").endsWith("\r\n\r\ntiny"));
}

void tst_MusicEndpoints::listsOnlyTheDevicePlaylist()
{
    writeMedia("a.mp3", "a");
    writeLibrary({{1, "One", {}, {}, locationOf(mediaPath("a.mp3"))}, {2, "Two", {}, {}, locationOf(mediaPath("a.mp3"))}},
                 {{"Library", QList<qint64>{1, 2}}, {"BlackBerry", QList<qint64>{2}}});
    QVERIFY(listAll().contains("<trackid>1</trackid>"));
    const QByteArray bb10 = get(m_port, "/getSongList?device=bb10");
    QVERIFY(!bb10.contains("<trackid>1</trackid>"));
    QVERIFY(bb10.contains("<trackid>2</trackid>"));

    // The index follows the latest list: track 1 is no longer there.
    QVERIFY(get(m_port, "/getSong?xx=1").startsWith("HTTP/1.1 400 Bad Request\r\n"));
    QVERIFY(get(m_port, "/getSong?xx=2").endsWith("\r\n\r\na"));
}

// A large library is listed in parts; when a song leaves, the songs of every part must stay downloadable.
void tst_MusicEndpoints::keepsEverySongOfALargeListInTheIndex()
{
    writeMedia("a.mp3", "a");
    QList<TestTrack> tracks;
    for (int id = 1; id <= 2500; ++id)
        tracks.append({id, QStringLiteral("Song %1").arg(id), {}, {}, locationOf(mediaPath("a.mp3"))});
    writeLibrary(tracks);
    QCOMPARE(listAll().count("<song>"), 2500);
    tracks.removeFirst();
    writeLibrary(tracks);
    QCOMPARE(listAll().count("<song>"), 2499);

    QVERIFY(get(m_port, "/getSong?xx=1").startsWith("HTTP/1.1 400 Bad Request\r\n"));
    for (const int id : {2, 1249, 1250, 1251, 1252, 2500})
        QVERIFY2(get(m_port, "/getSong?xx=" + QByteArray::number(id)).endsWith("\r\n\r\na"), QByteArray::number(id));
}

void tst_MusicEndpoints::refusesUnknownTrackIds_data()
{
    QTest::addColumn<QByteArray>("target");
    QTest::addColumn<QByteArray>("trackId");

    QTest::addRow("never listed") << QByteArray("/getSong?xx=1234") << QByteArray("1234");
    QTest::addRow("leading zero") << QByteArray("/getSong?xx=0101") << QByteArray("0101");
    QTest::addRow("plus sign") << QByteArray("/getSong?xx=+101") << QByteArray("+101");
    QTest::addRow("more after the ID") << QByteArray("/getSong?xx=101&y=2") << QByteArray("101&y=2");
    QTest::addRow("empty ID") << QByteArray("/getSong?xx=") << QByteArray("");
    QTest::addRow("too short") << QByteArray("/getSong?x") << QByteArray("");
    QTest::addRow("no query") << QByteArray("/getSong") << QByteArray("");
}

void tst_MusicEndpoints::refusesUnknownTrackIds()
{
    QFETCH(QByteArray, target);
    QFETCH(QByteArray, trackId);
    writeMedia("a.mp3", "a");
    writeLibrary({{101, "A", {}, {}, locationOf(mediaPath("a.mp3"))}});
    QVERIFY(!listAll().isEmpty());
    QCOMPARE(get(m_port, target), errorResponse("An unexpected error occurred sending the song '" + trackId
                                                + "': No song with track ID '" + trackId + "' could be found."));
}

void tst_MusicEndpoints::namesAFileThatWentAwayAfterTheList_data()
{
    QTest::addColumn<QString>("change");
    QTest::addRow("deleted") << "delete";
    QTest::addRow("emptied") << "empty";
    QTest::addRow("replaced by a folder") << "folder";
}

void tst_MusicEndpoints::namesAFileThatWentAwayAfterTheList()
{
    QFETCH(QString, change);
    const QString path = mediaPath("My Song.mp3");
    writeMedia("My Song.mp3", "bytes");
    writeLibrary({{7, "A", {}, {}, locationOf(path)}});
    QVERIFY(!listAll().isEmpty());

    QFile::remove(path);
    if (change == "empty")
        writeMedia("My Song.mp3", "");
    else if (change == "folder")
        QDir().mkpath(path);

    const QByteArray named = path.toUtf8();
    QCOMPARE(get(m_port, "/getSong?xx=7"), errorResponse("An unexpected error occurred sending the song '" + named
                                                         + "': An unexpected error occurred sending song: " + named));
}

void tst_MusicEndpoints::findsAFileSpelledInTheOtherNormalForm()
{
    const QString composed = QString::fromUtf8("Zo\u00eb.mp3");
    writeMedia(composed, "composed");
    writeLibrary({{3, "Zoë", {}, {}, locationOf(mediaPath(composed.normalized(QString::NormalizationForm_D)))}});
    QVERIFY(!listAll().isEmpty());
    QVERIFY(get(m_port, "/getSong?xx=3").endsWith("\r\n\r\ncomposed"));
}

void tst_MusicEndpoints::carriesOnWhenTheClientLeavesMidDownload()
{
    writeMedia("long.mp3", randomBytes(32 * 1024 * 1024));
    writeLibrary({{1, "Long", {}, {}, locationOf(mediaPath("long.mp3"))}});
    QVERIFY(!listAll().isEmpty());

    for (bool reset : {false, true}) {
        LoopbackClient client(m_port, 4096);
        client.send("GET /getSong?xx=1 HTTP/1.1\r\n\r\n");
        client.readToEnd(5000, 1024);
        reset ? client.reset() : client.close();
    }
    QTRY_VERIFY_WITH_TIMEOUT(m_server->findChildren<QObject *>(QString(), Qt::FindDirectChildrenOnly).size() <= 1,
                             10000);
    QCOMPARE(get(m_port, "/hello").right(6), QByteArray("Hello!"));
}

void tst_MusicEndpoints::cutsTheConnectionWhenTheFileShrinksMidDownload()
{
    const qsizetype size = 32 * 1024 * 1024;
    writeMedia("shrinking.mp3", randomBytes(size));
    writeLibrary({{1, "Shrinking", {}, {}, locationOf(mediaPath("shrinking.mp3"))}});
    QVERIFY(!listAll().isEmpty());

    LoopbackClient client(m_port, 4096);
    client.send("GET /getSong?xx=1 HTTP/1.1\r\n\r\n");
    client.readToEnd(5000, 1024);
    QVERIFY(QFile::resize(mediaPath("shrinking.mp3"), 1024 * 1024));
    QVERIFY(client.readToEnd(30000));
    QVERIFY(client.body().size() < size);
    QVERIFY(!client.body().contains("HTTP/1.1 400"));
}

QTEST_GUILESS_MAIN(tst_MusicEndpoints)
#include "tst_MusicEndpoints.moc"
