// SPDX-License-Identifier: GPL-3.0-or-later
// A download and what can happen during it: the peer half-closes, reads slowly, stops reading or resets; the song
// file is cut short or removed; the server stops. Whatever happens, only the song's own bytes follow the head, a
// stream that ends short ends by the connection being cut (never as if whole), and the server goes on serving.

#include "EndpointContext.h"
#include "HTTPConnection.h"
#include "HTTPServer.h"
#include "LibraryWriter.h"
#include "LoopbackClient.h"
#include "LoopbackServer.h"
#include "MusicLibrary.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QThreadPool>

namespace {

// Far more than the socket buffers between server and client hold, so the server is mid-file when the fault comes.
constexpr qsizetype songSize = 16 * 1024 * 1024;
// Where the stall limit is what the row is about; elsewhere it is the default, so only the fault can end a stream.
constexpr int stallLimitMs = 1000;
// Where the header time limit is what the row is about: long enough for a request header sent at once.
constexpr int headerTimeLimitMs = 300;

} // namespace

class tst_StreamingFaults : public QObject
{
    Q_OBJECT

public:
    enum Fault {
        HalfCloses,
        ReadsSlowly,
        StopsReading,
        OutlastsHeaderTimeLimit,
        Resets,
        FileHalved,
        FileEmptied,
        FileDeleted,
        ServerStops
    };
    Q_ENUM(Fault)

private slots:
    void initTestCase();
    void download_data();
    void download();

private:
    QByteArray m_song;
};

void tst_StreamingFaults::initTestCase()
{
    m_song = patternBytes(songSize);
}

void tst_StreamingFaults::download_data()
{
    QTest::addColumn<Fault>("fault");
    QTest::addColumn<bool>("whole");

    QTest::addRow("the peer half-closes") << HalfCloses << true;
    QTest::addRow("the peer reads slowly but steadily") << ReadsSlowly << true;
    QTest::addRow("the peer stops reading") << StopsReading << false;
    QTest::addRow("the download outlasts the header time limit") << OutlastsHeaderTimeLimit << true;
    QTest::addRow("the peer resets") << Resets << false;
    QTest::addRow("the file is cut to half") << FileHalved << false;
    QTest::addRow("the file is emptied") << FileEmptied << false;
    QTest::addRow("the file is deleted, and outlives its name") << FileDeleted << true;
    QTest::addRow("the server stops") << ServerStops << false;
}

void tst_StreamingFaults::download()
{
    QFETCH(Fault, fault);
    QTemporaryDir home;
    const QString songPath = writeOneSongLibrary(home.path(), m_song);
    QVERIFY(!songPath.isEmpty());
    HTTPServerOptions options = loopbackOptions();
    if (fault == ReadsSlowly || fault == StopsReading)
        options.stallLimit = std::chrono::milliseconds(stallLimitMs);
    if (fault == OutlastsHeaderTimeLimit)
        options.headerTimeLimit = std::chrono::milliseconds(headerTimeLimitMs);
    QThreadPool workers;
    MusicLibrary library(home.path(), workers);
    const EndpointContext endpoints{&library};
    HTTPServer server(options);
    server.setEndpointContext(&endpoints);
    server.start();
    QVERIFY(fetch(server.serverPort(), "GET /getSongList HTTP/1.1\r\n\r\n").startsWith("HTTP/1.1 200 OK\r\n"));

    LoopbackClient client(server.serverPort(), 64 * 1024);
    QVERIFY(client.send("GET /getSong?xx=7 HTTP/1.1\r\n\r\n"));
    QVERIFY(!client.readToEnd(10000, 1024 * 1024)); // a megabyte in: mid-song
    switch (fault) {
    case HalfCloses:
        client.endSending();
        break;
    case ReadsSlowly:
        // Pauses each well within the stall limit, together longer than it; a megabyte between them, since the server
        // hears of progress only once the kernel finds its socket writable again, a third of its buffer drained.
        for (int i = 0; i < 8; ++i) {
            QTest::qWait(stallLimitMs / 5);
            client.readToEnd(10000, client.received().size() + 1024 * 1024);
        }
        break;
    case StopsReading:
        QCOMPARE(fetch(server.serverPort(), helloRequest), helloResponse); // others are served meanwhile
        QTRY_VERIFY_WITH_TIMEOUT(server.findChildren<HTTPConnection *>().isEmpty(), 10000);
        break;
    case OutlastsHeaderTimeLimit:
        // Two silent peers in a row, each accepted after the download and closed by the limit: whatever slack the
        // timers have, the download's own limit has passed by the time the second goes.
        for (int i = 0; i < 2; ++i)
            QVERIFY(LoopbackClient(server.serverPort()).readToEnd());
        break;
    case Resets:
        client.reset();
        break;
    case FileHalved:
    case FileEmptied:
        QVERIFY(QFile::resize(songPath, fault == FileHalved ? songSize / 2 : 0));
        break;
    case FileDeleted:
        QVERIFY(QFile::remove(songPath));
        break;
    case ServerStops:
        server.stop();
        server.start();
        break;
    }

    QVERIFY2(client.readToEnd(30000), "the stream did not end");
    QCOMPARE(client.head(), plainTextHead(songSize));
    QVERIFY(m_song.startsWith(client.body()));
    QTEST(client.body().size() == songSize, "whole");
    client.close();
    QTRY_VERIFY(server.findChildren<HTTPConnection *>().isEmpty());
    QCOMPARE(fetch(server.serverPort(), helloRequest), helloResponse);
}

QTEST_GUILESS_MAIN(tst_StreamingFaults)
#include "tst_StreamingFaults.moc"
