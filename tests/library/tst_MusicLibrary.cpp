// SPDX-License-Identifier: GPL-3.0-or-later
// Song lists made on workers: the event loop answers while a list waits for its worker, requests that wait share a
// list, the index follows the list requested last, and a client, or the whole server, may go while a list is being
// made.

#include "EndpointContext.h"
#include "HTTPConnection.h"
#include "HTTPResponseHandler.h"
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

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QByteArray listRequest = "GET /getSongList HTTP/1.1\r\n\r\n";

SongList listOf(qint32 id)
{
    SongList list;
    list.body = {"<songs>\r\n</songs>"};
    list.index.add(id, "file:///a.mp3");
    return list;
}

QByteArray libraryOf(const QString &home, const QList<qint64> &ids, const QList<TestPlaylist> &playlists = {})
{
    QList<TestTrack> tracks;
    for (qint64 id : ids)
        tracks.append({id, QStringLiteral("Song"), {}, {}, locationOf(home + "/Media/song.mp3")});
    return libraryXml(tracks, playlists);
}

// The library file as a pipe: a list that opens it has begun to read the library, and stays there until fed.
class HeldLibrary
{
public:
    explicit HeldLibrary(QString path)
        : m_path(std::move(path))
    {
        QFile file(m_path);
        m_original = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        file.close();
        m_made = file.remove() && ::mkfifo(QFile::encodeName(m_path).constData(), 0600) == 0;
    }
    // Should a test fail first, a list waiting at the pipe reads an empty file rather than waiting for ever.
    ~HeldLibrary()
    {
        if (!m_made)
            return;
        if (m_writer < 0)
            m_writer = ::open(QFile::encodeName(m_path).constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (m_writer >= 0)
            ::close(m_writer);
        QFile::remove(m_path);
    }

    bool waitForReader()
    {
        return m_made && QTest::qWaitFor([this] {
            m_writer = ::open(QFile::encodeName(m_path).constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            return m_writer >= 0;
        });
    }

    // Feeds the list reading the pipe `held`, after putting a plain file of `later` in its place for later lists.
    bool release(const QByteArray &held = {}, const QByteArray &later = {})
    {
        const QString next = m_path + ".next";
        if (!writeFile(next, later.isEmpty() ? m_original : later)
            || ::rename(QFile::encodeName(next).constData(), QFile::encodeName(m_path).constData()) != 0)
            return false;
        const QByteArray bytes = held.isEmpty() ? m_original : held;
        ::fcntl(m_writer, F_SETFL, 0);
        const bool written = ::write(m_writer, bytes.constData(), size_t(bytes.size())) == bytes.size();
        ::close(m_writer);
        m_made = false;
        return written;
    }

private:
    const QString m_path;
    QByteArray m_original;
    bool m_made = false;
    int m_writer = -1;
};

} // namespace

class tst_MusicLibrary : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void answersWhileAListWaitsForItsWorker();
    void sharesAListAmongTheRequestsWaitingForIt();
    void joinsOnlyAListThatHasNotBegunToRead();
    void keepsTheIndexOfTheListRequestedLast_data();
    void keepsTheIndexOfTheListRequestedLast();
    void aJoinedListCountsAsRequestedLast_data();
    void aJoinedListCountsAsRequestedLast();
    void dropsAWaitingListWhoseClientsHaveGone_data();
    void dropsAWaitingListWhoseClientsHaveGone();
    void installsTheIndexOfAListWhoseClientLeft_data();
    void installsTheIndexOfAListWhoseClientLeft();
    void quitsWhileListsAreMade();
    void outlivesAClientThatHangsUpBeforeItsSong();

private:
    // The pool's only thread, held until released: every list waits its turn behind it.
    void holdTheWorker() { m_workers.start([this] { m_held.acquire(); }); }
    void releaseTheWorker() { m_held.release(); }
    quint16 port() const { return m_server->serverPort(); }
    QString libraryPath() const { return m_home.filePath("Music/iTunes/iTunes Music Library.xml"); }
    void request(const QString &device)
    {
        m_library->requestSongList(device, this, [this](const SongList &list) { m_answers.append(list); });
    }

    QTemporaryDir m_home;
    QSemaphore m_held;
    QThreadPool m_workers;
    std::unique_ptr<MusicLibrary> m_library;
    EndpointContext m_endpoints;
    std::unique_ptr<HTTPServer> m_server;
    int m_made = 0;
    int m_reading = 0; // lists that said they had begun to read
    QList<SongList> m_answers;
};

void tst_MusicLibrary::init()
{
    QVERIFY(!writeOneSongLibrary(m_home.path(), "song").isEmpty());
    m_workers.setMaxThreadCount(1);
    m_library = std::make_unique<MusicLibrary>(m_home.path(), m_workers);
    connect(m_library.get(), &MusicLibrary::songListMade, this, [this] { ++m_made; });
    connect(m_library.get(), &MusicLibrary::songListReading, this, [this] { ++m_reading; });
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
    m_made = m_reading = 0;
    m_answers.clear();
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

// Requests that wait for a worker are answered with one list for each playlist asked for, made once.
void tst_MusicLibrary::sharesAListAmongTheRequestsWaitingForIt()
{
    holdTheWorker();
    for (const char *device : {"", "2", "BB10", "bb10"})
        request(QString::fromLatin1(device));
    releaseTheWorker();
    QTRY_COMPARE(m_answers.size(), 4);
    QCOMPARE(m_made, 2);
}

// A request that comes once a list has begun to read the library gets a list read after it came.
void tst_MusicLibrary::joinsOnlyAListThatHasNotBegunToRead()
{
    HeldLibrary held(libraryPath());
    request({});
    QVERIFY(held.waitForReader());
    request({});
    QVERIFY(held.release(libraryOf(m_home.path(), {1}), libraryOf(m_home.path(), {2})));
    QTRY_COMPARE(m_answers.size(), 2);
    QCOMPARE(m_answers[0].index.ids(), QList<qint32>{1});
    QCOMPARE(m_answers[1].index.ids(), QList<qint32>{2});
    QCOMPARE(m_made, 2);
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

// The list for "bb10" holds track 2 alone, the others tracks 1 and 2; lists are made in the order they were
// first requested.
void tst_MusicLibrary::aJoinedListCountsAsRequestedLast_data()
{
    QTest::addColumn<QStringList>("devices");
    QTest::addColumn<bool>("listsTrack1");

    QTest::addRow("two lists") << QStringList{"", "bb10"} << false;
    QTest::addRow("the first joined after the second") << QStringList{"", "bb10", "2"} << true;
}

void tst_MusicLibrary::aJoinedListCountsAsRequestedLast()
{
    QFETCH(QStringList, devices);
    QFETCH(bool, listsTrack1);
    QVERIFY(writeFile(libraryPath(), libraryOf(m_home.path(), {1, 2}, {{QStringLiteral("BlackBerry"), {2}}})));
    holdTheWorker();
    for (const QString &device : devices)
        request(device);
    releaseTheWorker();
    QTRY_COMPARE(m_answers.size(), devices.size());
    QCOMPARE(!m_library->getSongLocation("1").isNull(), listsTrack1);
}

void tst_MusicLibrary::dropsAWaitingListWhoseClientsHaveGone_data()
{
    QTest::addColumn<bool>("anotherClientWaits");
    QTest::addRow("its only client") << false;
    QTest::addRow("one of two clients") << true;
}

// A client that resets before its list has begun to read the library leaves nobody to read it for: the list never
// reads, nor says it does.
void tst_MusicLibrary::dropsAWaitingListWhoseClientsHaveGone()
{
    QFETCH(bool, anotherClientWaits);
    holdTheWorker();
    {
        LoopbackClient leaving(port());
        QVERIFY(leaving.send(listRequest));
        QTRY_COMPARE(m_server->responseHandlerCount(), 1);
        if (anotherClientWaits)
            request({});
        leaving.reset();
    }
    QTRY_VERIFY(m_server->findChildren<HTTPResponseHandler *>().isEmpty());
    request(QStringLiteral("bb10")); // made after the first, had it been kept
    releaseTheWorker();
    const int lists = anotherClientWaits ? 2 : 1;
    QTRY_COMPARE(m_answers.size(), lists);
    QCOMPARE(m_made, lists);
    QCOMPARE(m_reading, lists);
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
    HeldLibrary held(libraryPath());
    {
        LoopbackClient leaving(port());
        QVERIFY(leaving.send(listRequest));
        QVERIFY(held.waitForReader());
        reset ? leaving.reset() : leaving.close();
    }
    if (reset) // a reset is a peer gone for good: its answer is given up at once, and its handler goes
        QTRY_VERIFY(m_server->findChildren<HTTPResponseHandler *>().isEmpty());

    QVERIFY(held.release());
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
