// Song lists made on workers: the event loop answers while a list waits for its worker, requests that wait share a
// list, the index follows the list requested last, and a client, or the whole server, may go while a list is being
// made.

#include "EndpointContext.h"
#include "HTTPConnection.h"
#include "HTTPServer.h"
#include "LatestTrackIndex.h"
#include "LibraryWriter.h"
#include "LoopbackClient.h"
#include "LoopbackServer.h"
#include "MusicLibrary.h"

#include <QSemaphore>
#include <QTemporaryDir>
#include <QTest>
#include <QThreadPool>

namespace {

const QByteArray listRequest = "GET /getSongList HTTP/1.1\r\n\r\n";

SongList listOf(qint32 id)
{
    SongList list;
    list.body = {"<songs>\r\n</songs>"};
    list.index.add(id, "file:///a.mp3");
    return list;
}

} // namespace

class tst_MusicLibrary : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void answersWhileAListWaitsForItsWorker();
    void sharesAListAmongTheRequestsWaitingForIt();
    void keepsTheIndexOfTheListRequestedLast_data();
    void keepsTheIndexOfTheListRequestedLast();
    void installsTheIndexOfAListWhoseClientLeft_data();
    void installsTheIndexOfAListWhoseClientLeft();
    void quitsWhileListsAreMade();
    void outlivesAClientThatHangsUpBeforeItsSong();

private:
    // The pool's only thread, held until released: every list waits its turn behind it.
    void holdTheWorker() { m_workers.start([this] { m_held.acquire(); }); }
    void releaseTheWorker() { m_held.release(); }
    quint16 port() const { return m_server->serverPort(); }

    QTemporaryDir m_home;
    QSemaphore m_held;
    QThreadPool m_workers;
    std::unique_ptr<MusicLibrary> m_library;
    EndpointContext m_endpoints;
    std::unique_ptr<HTTPServer> m_server;
};

void tst_MusicLibrary::init()
{
    QVERIFY(!writeOneSongLibrary(m_home.path(), "song").isEmpty());
    m_workers.setMaxThreadCount(1);
    m_library = std::make_unique<MusicLibrary>(m_home.path(), m_workers);
    m_endpoints.library = m_library.get();
    m_server = std::make_unique<HTTPServer>(loopbackOptions());
    m_server->setEndpointContext(&m_endpoints);
    m_server->start();
    QVERIFY(port() != 0);
}

void tst_MusicLibrary::cleanup()
{
    releaseTheWorker(); // as a failed test may have left it
    m_server.reset();
    m_library.reset();
    m_workers.waitForDone();
    m_held.acquire(m_held.available());
}

void tst_MusicLibrary::answersWhileAListWaitsForItsWorker()
{
    holdTheWorker();
    LoopbackClient lister(port());
    QVERIFY(lister.send(listRequest));
    QTRY_COMPARE(m_server->responseHandlerCount(), 1);

    QCOMPARE(fetch(port(), "GET /hello HTTP/1.1\r\n\r\n"), helloResponse);
    QVERIFY(m_library->getSongLocation("7").isNull()); // the list is not made yet
    QCOMPARE(m_server->responseHandlerCount(), 1);

    releaseTheWorker();
    QVERIFY(lister.readToEnd());
    QVERIFY(lister.body().contains("<trackid>7</trackid>"));
    QVERIFY(!m_library->getSongLocation("7").isNull());
}

// Requests for one handset that wait for a worker are answered with one list, made once.
void tst_MusicLibrary::sharesAListAmongTheRequestsWaitingForIt()
{
    int made = 0;
    int answered = 0;
    connect(m_library.get(), &MusicLibrary::songListMade, this, [&made] { ++made; });
    const auto request = [&](const QString &device) {
        m_library->requestSongList(device, this, [&answered](const SongList &list) { answered += list.isListed(); });
    };
    holdTheWorker();
    request({});
    request({});
    request(QStringLiteral("bb10"));
    releaseTheWorker();
    QTRY_COMPARE(answered, 3);
    QCOMPARE(made, 2);
}

void tst_MusicLibrary::keepsTheIndexOfTheListRequestedLast_data()
{
    QTest::addColumn<bool>("olderFinishesFirst");
    QTest::addColumn<bool>("newerSucceeds");
    QTest::addColumn<qint32>("kept");

    QTest::addRow("in the order requested") << true << true << 2;
    QTest::addRow("the older one last") << false << true << 2;
    QTest::addRow("the newer one failed, last") << true << false << 1;
    QTest::addRow("the newer one failed, first") << false << false << 1;
}

void tst_MusicLibrary::keepsTheIndexOfTheListRequestedLast()
{
    QFETCH(bool, olderFinishesFirst);
    QFETCH(bool, newerSucceeds);
    QFETCH(qint32, kept);

    LatestTrackIndex songById;
    const quint64 older = songById.nextRequest();
    const quint64 newer = songById.nextRequest();
    SongList failed;
    failed.failure = QStringLiteral("Couldn't find iTunes Library XML file. Do you have iTunes installed?");
    const SongList newerList = newerSucceeds ? listOf(2) : failed;
    if (olderFinishesFirst) {
        songById.offer(older, listOf(1));
        songById.offer(newer, newerList);
    } else {
        songById.offer(newer, newerList);
        songById.offer(older, listOf(1));
    }
    QCOMPARE(songById.current().ids(), QList<qint32>{kept});
}

void tst_MusicLibrary::installsTheIndexOfAListWhoseClientLeft_data()
{
    QTest::addColumn<bool>("reset");
    QTest::addRow("closed") << false;
    QTest::addRow("reset") << true;
}

void tst_MusicLibrary::installsTheIndexOfAListWhoseClientLeft()
{
    QFETCH(bool, reset);
    holdTheWorker();
    {
        LoopbackClient leaving(port());
        QVERIFY(leaving.send(listRequest));
        QTRY_COMPARE(m_server->responseHandlerCount(), 1);
        reset ? leaving.reset() : leaving.close();
    }
    if (reset) // a reset is a peer gone for good: its answer is given up at once
        QTRY_COMPARE(m_server->responseHandlerCount(), 0);

    releaseTheWorker();
    QTRY_VERIFY(!m_library->getSongLocation("7").isNull());
    QTRY_VERIFY(m_server->findChildren<HTTPConnection *>().isEmpty());
    QCOMPARE(fetch(port(), "GET /hello HTTP/1.1\r\n\r\n"), helloResponse);
}

// As main() ends: the server goes, then the library, while one list is being made and another waits its turn.
// What this test watches for, a worker touching a freed object, the sanitizer build reports.
void tst_MusicLibrary::quitsWhileListsAreMade()
{
    QList<TestTrack> tracks;
    for (qint64 id = 1; id <= 5000; ++id)
        tracks.append({id, QStringLiteral("Song"), {}, {}, locationOf(m_home.path() + "/Media/song.mp3")});
    QVERIFY(writeFile(m_home.filePath("Music/iTunes/iTunes Music Library.xml"), libraryXml(tracks)));

    holdTheWorker();
    LoopbackClient first(port());
    LoopbackClient second(port());
    QVERIFY(first.send(listRequest) && second.send("GET /getSongList?device=bb10 HTTP/1.1\r\n\r\n"));
    QTRY_COMPARE(m_server->responseHandlerCount(), 2);
    releaseTheWorker(); // the first list starts
    m_server.reset();
    m_library.reset();
    QVERIFY(first.readToEnd());
    QVERIFY(second.readToEnd());
}

// sendfile() cannot refuse SIGPIPE: the server must, for tests and the application alike.
void tst_MusicLibrary::outlivesAClientThatHangsUpBeforeItsSong()
{
    QVERIFY(!writeOneSongLibrary(m_home.path(), QByteArray(32 << 20, 's')).isEmpty());
    QVERIFY(fetch(port(), listRequest).contains("<trackid>7</trackid>"));
    LoopbackClient(port()).send("GET /getSong?xx=7 HTTP/1.1\r\n\r\n");
    QTRY_VERIFY(m_server->findChildren<HTTPConnection *>().isEmpty());
    QCOMPARE(fetch(port(), "GET /hello HTTP/1.1\r\n\r\n"), helloResponse);
}

QTEST_GUILESS_MAIN(tst_MusicLibrary)
#include "tst_MusicLibrary.moc"
