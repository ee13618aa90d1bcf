// The limits that keep one peer from holding the server: a header's size and time, a response that the peer stops
// taking, and many connections that say nothing. Each against a server of its own on a loopback port, with short
// time limits where the test waits for one.

#include "EndpointContext.h"
#include "HTTPConnection.h"
#include "HTTPMessage.h"
#include "HTTPServer.h"
#include "LibraryWriter.h"
#include "LoopbackClient.h"
#include "LoopbackServer.h"
#include "MusicLibrary.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QThreadPool>

#include <sys/resource.h>

namespace {

const QByteArray helloRequest = "GET /hello HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
const QByteArray helloResponse = "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nConnection: close\r\n"
                                 "Content-Length: 6\r\n\r\nHello!";

constexpr std::chrono::milliseconds shortLimit{400};
constexpr int silentConnections = 1000;

// A request for /hello whose header is exactly `size` bytes, padded with header lines of about `lineLength`.
QByteArray paddedHelloRequest(qsizetype size, qsizetype lineLength)
{
    QByteArray head = "GET /hello HTTP/1.1\r\n";
    const qsizetype lineOverhead = sizeof("X-Pad: \r\n") - 1;
    while (size - head.size() - 2 > 0) {
        const qsizetype room = size - head.size() - 2;
        const qsizetype line = room < 2 * lineLength ? room : lineLength;
        head += "X-Pad: " + QByteArray(line - lineOverhead, 'p') + "\r\n";
    }
    return head + "\r\n";
}

QByteArray patternBytes(qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = char((i * 7 + i / 4093) & 0xff);
    return bytes;
}

} // namespace

class tst_RequestLimits : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void answersAHeaderAtTheSizeLimit_data();
    void answersAHeaderAtTheSizeLimit();
    void closesAHeaderOverTheSizeLimitWithoutAnswer_data();
    void closesAHeaderOverTheSizeLimitWithoutAnswer();
    void closesAHeaderNotCompletedInTime_data();
    void closesAHeaderNotCompletedInTime();
    void givesUpAResponseThePeerStopsTaking();
    void servesASlowButSteadyReaderInFull();
    void answersWhileAThousandConnectionsSayNothing();

private:
    void startServer(std::chrono::milliseconds headerTimeLimit, std::chrono::milliseconds stallLimit);
    void writeSongLibrary(const QByteArray &song);
    QByteArray songHead(qsizetype size) const;
    qsizetype liveConnections() const { return m_server->findChildren<HTTPConnection *>().size(); }

    std::unique_ptr<QTemporaryDir> m_home;
    QThreadPool m_workers;
    std::unique_ptr<MusicLibrary> m_library;
    EndpointContext m_endpoints;
    std::unique_ptr<HTTPServer> m_server;
    quint16 m_port = 0;
};

void tst_RequestLimits::initTestCase()
{
    // Both ends of every silent connection live in this process.
    rlimit descriptors{};
    QCOMPARE(::getrlimit(RLIMIT_NOFILE, &descriptors), 0);
    descriptors.rlim_cur = descriptors.rlim_max;
    QCOMPARE(::setrlimit(RLIMIT_NOFILE, &descriptors), 0);
    QVERIFY2(descriptors.rlim_cur >= rlim_t(2 * silentConnections + 100), "the descriptor limit is too low");
}

void tst_RequestLimits::cleanup()
{
    m_server.reset();
    m_library.reset();
    m_home.reset();
}

void tst_RequestLimits::startServer(std::chrono::milliseconds headerTimeLimit, std::chrono::milliseconds stallLimit)
{
    m_home = std::make_unique<QTemporaryDir>();
    m_library = std::make_unique<MusicLibrary>(m_home->path(), m_workers);
    m_endpoints.library = m_library.get();
    HTTPServerOptions options = loopbackOptions();
    options.headerTimeLimit = headerTimeLimit;
    options.stallLimit = stallLimit;
    m_server = std::make_unique<HTTPServer>(options);
    m_server->setEndpointContext(&m_endpoints);
    m_server->start();
    m_port = m_server->serverPort();
    QVERIFY(m_port != 0);
}

void tst_RequestLimits::writeSongLibrary(const QByteArray &song)
{
    QVERIFY(!writeOneSongLibrary(m_home->path(), song).isEmpty());
    // The download finds the file through the index that a list fills.
    QVERIFY(fetch(m_port, "GET /getSongList HTTP/1.1\r\n\r\n").startsWith("HTTP/1.1 200 OK\r\n"));
}

QByteArray tst_RequestLimits::songHead(qsizetype size) const
{
    return "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nConnection: close\r\nContent-Length: "
           + QByteArray::number(size) + "\r\n\r\n";
}

void tst_RequestLimits::answersAHeaderAtTheSizeLimit_data()
{
    QTest::addColumn<qsizetype>("lineLength");
    QTest::addRow("one long line") << HTTPRequest::maxHeaderBytes;
    QTest::addRow("many short lines") << qsizetype(100);
}

void tst_RequestLimits::answersAHeaderAtTheSizeLimit()
{
    QFETCH(qsizetype, lineLength);
    startServer(std::chrono::seconds(30), std::chrono::seconds(60));
    const QByteArray request = paddedHelloRequest(HTTPRequest::maxHeaderBytes, lineLength);
    QCOMPARE(request.size(), HTTPRequest::maxHeaderBytes);
    QCOMPARE(fetch(m_port, request), helloResponse);
}

void tst_RequestLimits::closesAHeaderOverTheSizeLimitWithoutAnswer_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addRow("one byte over, one long line") << paddedHelloRequest(HTTPRequest::maxHeaderBytes + 1, 1 << 20);
    QTest::addRow("one byte over, many short lines") << paddedHelloRequest(HTTPRequest::maxHeaderBytes + 1, 100);
    QTest::addRow("a megabyte of header lines") << paddedHelloRequest(1 << 20, 100);
    QTest::addRow("a request line that never ends") << "GET /" + QByteArray(1 << 20, 'a');
}

void tst_RequestLimits::closesAHeaderOverTheSizeLimitWithoutAnswer()
{
    QFETCH(QByteArray, request);
    startServer(std::chrono::seconds(30), std::chrono::seconds(60));

    LoopbackClient client(m_port);
    QVERIFY(client.isConnected());
    client.send(request); // fails part way once the server has closed: that is the point
    QVERIFY2(client.readToEnd(5000), "the connection stayed open");
    QCOMPARE(client.received(), QByteArray());
    QTRY_COMPARE(liveConnections(), 0);
    QCOMPARE(fetch(m_port, helloRequest), helloResponse);
}

void tst_RequestLimits::closesAHeaderNotCompletedInTime_data()
{
    QTest::addColumn<QByteArray>("sent");
    QTest::addColumn<int>("pauseMs");
    QTest::addRow("nothing at all") << QByteArray() << 0;
    QTest::addRow("a request line and no more") << QByteArray("GET /hello HTTP/1.1\r\n") << 0;
    // Each byte is progress, but the limit is on the whole header, not on silence.
    QTest::addRow("one byte every 50 ms") << helloRequest << 50;
}

void tst_RequestLimits::closesAHeaderNotCompletedInTime()
{
    QFETCH(QByteArray, sent);
    QFETCH(int, pauseMs);
    startServer(shortLimit, std::chrono::seconds(60));

    LoopbackClient client(m_port);
    QVERIFY(client.isConnected());
    QElapsedTimer elapsed;
    elapsed.start();
    bool closed = false;
    if (pauseMs > 0) {
        for (qsizetype i = 0; i < sent.size() && !closed; ++i)
            closed = !client.send(sent.mid(i, 1)) || client.readToEnd(pauseMs);
    } else {
        client.send(sent);
    }
    closed = closed || client.readToEnd(int(shortLimit.count()) + 5000);
    QVERIFY2(closed, "the connection stayed open");
    QVERIFY2(elapsed.elapsed() >= shortLimit.count() - 50, qPrintable(QString::number(elapsed.elapsed())));
    QCOMPARE(client.received(), QByteArray());
    QCOMPARE(fetch(m_port, helloRequest), helloResponse);
}

void tst_RequestLimits::givesUpAResponseThePeerStopsTaking()
{
    startServer(std::chrono::seconds(30), shortLimit);
    const QByteArray song = patternBytes(32 * 1024 * 1024); // far more than the socket buffers on the way hold
    writeSongLibrary(song);

    LoopbackClient client(m_port, 4096);
    QVERIFY(client.send("GET /getSong?xx=7 HTTP/1.1\r\n\r\n"));
    QTRY_COMPARE(liveConnections(), 1);
    QElapsedTimer elapsed;
    elapsed.start();
    QTRY_COMPARE_WITH_TIMEOUT(liveConnections(), 0, 10000);
    QVERIFY2(elapsed.elapsed() >= shortLimit.count() - 100, qPrintable(QString::number(elapsed.elapsed())));

    // What had gone out before the server gave up is the start of the song, and the stream ends there.
    QVERIFY(client.readToEnd());
    QCOMPARE(client.head(), songHead(song.size()));
    QVERIFY(client.body().size() < song.size());
    QVERIFY(song.startsWith(client.body()));
    QCOMPARE(fetch(m_port, helloRequest), helloResponse);
}

void tst_RequestLimits::servesASlowButSteadyReaderInFull()
{
    startServer(std::chrono::seconds(30), shortLimit);
    const QByteArray song = patternBytes(8 * 1024 * 1024);
    writeSongLibrary(song);

    LoopbackClient client(m_port, 64 * 1024);
    QVERIFY(client.send("GET /getSong?xx=7 HTTP/1.1\r\n\r\n"));
    const QDeadlineTimer deadline(60000);
    bool ended = false;
    while (!ended && !deadline.hasExpired()) {
        ended = client.readToEnd(1000, client.received().size() + 512 * 1024);
        QTest::qWait(int(shortLimit.count() / 4));
    }
    QVERIFY(ended);
    QCOMPARE(client.head(), songHead(song.size()));
    QVERIFY(client.body() == song);
}

void tst_RequestLimits::answersWhileAThousandConnectionsSayNothing()
{
    startServer(std::chrono::seconds(30), std::chrono::seconds(60));
    std::vector<std::unique_ptr<LoopbackClient>> silent;
    for (int i = 0; i < silentConnections; ++i) {
        silent.push_back(std::make_unique<LoopbackClient>(m_port));
        QVERIFY(silent.back()->isConnected());
        if (i % 32 == 0)
            QCoreApplication::processEvents(); // keeps the listening backlog short
    }
    QTRY_COMPARE_WITH_TIMEOUT(m_server->incomingRequestCount(), qsizetype(silentConnections), 10000);

    QElapsedTimer elapsed;
    elapsed.start();
    for (int i = 0; i < 10; ++i)
        QCOMPARE(fetch(m_port, helloRequest), helloResponse);
    QVERIFY2(elapsed.elapsed() < 5000, qPrintable(QString::number(elapsed.elapsed())));
    QCOMPARE(m_server->incomingRequestCount(), qsizetype(silentConnections));

    silent.clear();
    QTRY_COMPARE_WITH_TIMEOUT(m_server->incomingRequestCount(), qsizetype(0), 10000);
    QTRY_COMPARE(liveConnections(), 0);
}

QTEST_GUILESS_MAIN(tst_RequestLimits)
#include "tst_RequestLimits.moc"
