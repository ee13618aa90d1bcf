// Faults during a download: the peer resets, the song file is cut short or removed while it is being sent. The
// server must let go of the connection and never put anything after the song's first bytes but the song's own.

#include "EndpointContext.h"
#include "HTTPConnection.h"
#include "HTTPServer.h"
#include "LibraryWriter.h"
#include "LoopbackClient.h"
#include "LoopbackServer.h"
#include "MusicLibrary.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QThreadPool>

namespace {

const QByteArray helloRequest = "GET /hello HTTP/1.1\r\n\r\n";
const QByteArray helloResponse = "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nConnection: close\r\n"
                                 "Content-Length: 6\r\n\r\nHello!";
const QByteArray songRequest = "GET /getSong?xx=7 HTTP/1.1\r\n\r\n";

// Far more than the socket buffers between server and client hold, so the server is mid-file when the fault comes.
constexpr qsizetype songSize = 32 * 1024 * 1024;

QByteArray patternBytes(qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = char((i * 13 + i / 8191) & 0xff);
    return bytes;
}

} // namespace

class tst_StreamingFaults : public QObject
{
    Q_OBJECT

public:
    enum class Fault { TruncatedToHalf, TruncatedToNothing, Deleted };
    Q_ENUM(Fault)

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void letsGoOfAPeerThatResetsMidDownload();
    void endsTheStreamWhenTheSongChangesUnderIt_data();
    void endsTheStreamWhenTheSongChangesUnderIt();

private:
    QByteArray songHead() const;
    qsizetype liveConnections() const { return m_server->findChildren<HTTPConnection *>().size(); }

    QByteArray m_song;
    QString m_songPath;
    std::unique_ptr<QTemporaryDir> m_home;
    QThreadPool m_workers;
    std::unique_ptr<MusicLibrary> m_library;
    EndpointContext m_endpoints;
    std::unique_ptr<HTTPServer> m_server;
    quint16 m_port = 0;
};

void tst_StreamingFaults::initTestCase()
{
    m_song = patternBytes(songSize);
}

void tst_StreamingFaults::init()
{
    m_home = std::make_unique<QTemporaryDir>();
    m_songPath = writeOneSongLibrary(m_home->path(), m_song);
    QVERIFY(!m_songPath.isEmpty());

    m_library = std::make_unique<MusicLibrary>(m_home->path(), m_workers);
    m_endpoints.library = m_library.get();
    m_server = std::make_unique<HTTPServer>(loopbackOptions());
    m_server->setEndpointContext(&m_endpoints);
    m_server->start();
    m_port = m_server->serverPort();
    QVERIFY(m_port != 0);
    QVERIFY(fetch(m_port, "GET /getSongList HTTP/1.1\r\n\r\n").startsWith("HTTP/1.1 200 OK\r\n"));
}

void tst_StreamingFaults::cleanup()
{
    m_server.reset();
    m_library.reset();
    m_home.reset();
}

QByteArray tst_StreamingFaults::songHead() const
{
    return "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nConnection: close\r\nContent-Length: "
           + QByteArray::number(songSize) + "\r\n\r\n";
}

void tst_StreamingFaults::letsGoOfAPeerThatResetsMidDownload()
{
    {
        LoopbackClient client(m_port, 16 * 1024);
        QVERIFY(client.send(songRequest));
        QVERIFY(!client.readToEnd(10000, 1024 * 1024)); // stops at a megabyte, mid-song
        QVERIFY(client.body().size() < songSize);
        client.reset();
    }
    QTRY_COMPARE_WITH_TIMEOUT(liveConnections(), 0, 5000);

    // The next download is whole, byte for byte.
    LoopbackClient client(m_port);
    QVERIFY(client.send(songRequest));
    QVERIFY(client.readToEnd(30000));
    QCOMPARE(client.head(), songHead());
    QVERIFY(client.body() == m_song);
}

void tst_StreamingFaults::endsTheStreamWhenTheSongChangesUnderIt_data()
{
    QTest::addColumn<Fault>("fault");
    QTest::addRow("truncated to half") << Fault::TruncatedToHalf;
    QTest::addRow("truncated to nothing") << Fault::TruncatedToNothing;
    QTest::addRow("deleted") << Fault::Deleted;
}

void tst_StreamingFaults::endsTheStreamWhenTheSongChangesUnderIt()
{
    QFETCH(Fault, fault);
    LoopbackClient client(m_port, 16 * 1024);
    QVERIFY(client.send(songRequest));
    QVERIFY(!client.readToEnd(10000, 256 * 1024));

    switch (fault) {
    case Fault::TruncatedToHalf:
        QVERIFY(QFile::resize(m_songPath, songSize / 2));
        break;
    case Fault::TruncatedToNothing:
        QVERIFY(QFile::resize(m_songPath, 0));
        break;
    case Fault::Deleted:
        QVERIFY(QFile::remove(m_songPath));
        break;
    }

    QVERIFY2(client.readToEnd(30000), "the stream did not end");
    QCOMPARE(client.head(), songHead());
    const QByteArray body = client.body();
    // Only the song's own bytes follow the head: no error text, nothing from elsewhere.
    QVERIFY(m_song.startsWith(body));
    switch (fault) {
    case Fault::TruncatedToHalf:
        QVERIFY(body.size() <= songSize / 2);
        break;
    case Fault::TruncatedToNothing:
        QVERIFY(body.size() < songSize);
        break;
    case Fault::Deleted:
        // The open file outlives its name: the song goes out whole.
        QCOMPARE(body.size(), songSize);
        break;
    }
    QTRY_COMPARE(liveConnections(), 0);
    QCOMPARE(fetch(m_port, helloRequest), helloResponse);
}

QTEST_GUILESS_MAIN(tst_StreamingFaults)
#include "tst_StreamingFaults.moc"
