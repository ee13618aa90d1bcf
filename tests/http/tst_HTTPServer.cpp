#include "HTTPConnection.h"
#include "HTTPResponseHandler.h"
#include "HTTPServer.h"
#include "LoopbackClient.h"
#include "LoopbackServer.h"

#include <QSignalSpy>
#include <QTest>

namespace {

// Test endpoints under "/test/", consulted before everything else.
class EchoBodyHandler : public HTTPResponseHandler
{
public:
    static constexpr const char *className = "EchoBodyHandler";
    using HTTPResponseHandler::HTTPResponseHandler;
    static quint64 priority() { return 10; }
    static bool canHandleRequest(const HTTPRequest &, const QString &, const RequestURL &url, const HeaderFields &)
    {
        return url.path() == QLatin1StringView("/test/echo-body");
    }
    void startResponse() override
    {
        HTTPResponse response(200);
        response.setHeaderField("Content-Length", QByteArray::number(m_request.body().size()));
        writeResponse(response, m_request.body());
        finishResponse();
    }
};

// Answers with many megabytes, to fill every socket buffer on the way.
class LargeBodyHandler : public HTTPResponseHandler
{
public:
    static constexpr const char *className = "LargeBodyHandler";
    static constexpr qsizetype bodySize = 16 * 1024 * 1024;
    using HTTPResponseHandler::HTTPResponseHandler;
    static quint64 priority() { return 10; }
    static bool canHandleRequest(const HTTPRequest &, const QString &, const RequestURL &url, const HeaderFields &)
    {
        return url.path() == QLatin1StringView("/test/large");
    }
    void startResponse() override
    {
        QByteArray body(bodySize, Qt::Uninitialized);
        for (qsizetype i = 0; i < body.size(); ++i)
            body[i] = char('a' + i % 26);
        HTTPResponse response(200);
        response.setHeaderField("Content-Length", QByteArray::number(body.size()));
        writeResponse(response, body);
        finishResponse();
    }
};

// Keeps its response open until the peer goes away.
class OpenEndedHandler : public HTTPResponseHandler
{
public:
    static constexpr const char *className = "OpenEndedHandler";
    using HTTPResponseHandler::HTTPResponseHandler;
    static quint64 priority() { return 10; }
    static bool canHandleRequest(const HTTPRequest &, const QString &, const RequestURL &url, const HeaderFields &)
    {
        return url.path() == QLatin1StringView("/test/open");
    }
    void startResponse() override { writeResponse(HTTPResponse(200)); }
};

const QByteArray helloResponse = "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nConnection: close\r\n"
                                 "Content-Length: 6\r\n\r\nHello!";

// The states a server announces, each read at the moment it is announced.
class StateRecorder
{
public:
    explicit StateRecorder(HTTPServer &server)
    {
        QObject::connect(&server, &HTTPServer::stateChanged, &server,
                         [this](HTTPServer *changed) { seen.append(changed->state()); });
    }
    QList<qint32> seen;
};

} // namespace

class tst_HTTPServer : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void answersHello();
    void answersEveryOtherPathWith501_data();
    void answersEveryOtherPathWith501();
    void assemblesAHeaderSplitOverChunks();
    void keepsBodyBytesThatCameWithTheHeaderAndDropsLaterOnes();
    void closesOnBytesThatAreNotHTTPAndGoesOn();
    void forgetsAPeerThatLeavesBeforeItsHeader();
    void answersAPeerThatHalfClosesInFull();
    void servesOthersWhileAPeerDoesNotRead();
    void closesAConnectionThatNeverCompletesItsHeader();
    void closesAConnectionThatTakesNoBytesForTooLong();
    void survivesAPeerThatResetsMidResponse();
    void reportsItsStatesInOrder();
    void reportsAPortThatIsTaken();
    void stopClosesHalfReceivedConnectionsAndLiveHandlers();

private:
    std::unique_ptr<HTTPServer> m_server;
};

void tst_HTTPServer::initTestCase()
{
    HTTPResponseHandler::registerHandler(HandlerClass::of<EchoBodyHandler>());
    HTTPResponseHandler::registerHandler(HandlerClass::of<LargeBodyHandler>());
    HTTPResponseHandler::registerHandler(HandlerClass::of<OpenEndedHandler>());
}

void tst_HTTPServer::init()
{
    m_server = std::make_unique<HTTPServer>(loopbackOptions());
    m_server->start();
    QCOMPARE(m_server->state(), HTTPServer::HTTPServerStateRunning);
    QVERIFY(m_server->serverPort() != 0);
}

void tst_HTTPServer::cleanup()
{
    m_server.reset();
}

void tst_HTTPServer::answersHello()
{
    QCOMPARE(fetch(m_server->serverPort(), "GET /hello HTTP/1.1\r\nHost: x\r\n\r\n"), helloResponse);
    QCOMPARE(fetch(m_server->serverPort(), "POST /hello?x=1 HTTP/1.0\r\n\r\n"), helloResponse);
    QCOMPARE(fetch(m_server->serverPort(), "HEAD http://127.0.0.1/hello HTTP/1.1\r\n\r\n"), helloResponse);
    QTRY_COMPARE(m_server->responseHandlerCount(), 0);
}

void tst_HTTPServer::answersEveryOtherPathWith501_data()
{
    QTest::addColumn<QByteArray>("target");
    QTest::addColumn<QByteArray>("shown");

    QTest::addRow("root") << QByteArray("/") << QByteArray("/");
    QTest::addRow("other case") << QByteArray("/Hello") << QByteArray("/Hello");
    QTest::addRow("further segment") << QByteArray("/hello/world") << QByteArray("/hello/world");
    QTest::addRow("query kept") << QByteArray("/x?a=1&b=%20") << QByteArray("/x?a=1&b=%20");
    QTest::addRow("markup escaped") << QByteArray("/<b>\"'") << QByteArray("/%3Cb%3E%22%27");
}

void tst_HTTPServer::answersEveryOtherPathWith501()
{
    QFETCH(QByteArray, target);
    QFETCH(QByteArray, shown);
    const QByteArray expected = "HTTP/1.1 501 Not Implemented\r\nContent-Type: text/html\r\nConnection: close\r\n\r\n"
                                "<html><head><title>501 - Not Implemented</title></head><body><h1>501 - Not "
                                "Implemented</h1><p>No handler exists to handle "
                                + shown + ".</p></body></html>";
    QCOMPARE(fetch(m_server->serverPort(), "GET " + target + " HTTP/1.1\r\n\r\n"), expected);
}

void tst_HTTPServer::assemblesAHeaderSplitOverChunks()
{
    LoopbackClient client(m_server->serverPort());
    for (const QByteArray &chunk : {QByteArray("GE"), QByteArray("T /hel"), QByteArray("lo HTTP/1.1\r"),
                                    QByteArray("\nHost: x\r\n"), QByteArray("\r\n")}) {
        QVERIFY(client.send(chunk));
        QTest::qWait(10);
        if (chunk != "\r\n") {
            QCOMPARE(m_server->incomingRequestCount(), 1);
            QCOMPARE(m_server->responseHandlerCount(), 0);
        }
    }
    QVERIFY(client.readToEnd());
    QCOMPARE(client.received(), helloResponse);
    QCOMPARE(m_server->incomingRequestCount(), 0);
}

void tst_HTTPServer::keepsBodyBytesThatCameWithTheHeaderAndDropsLaterOnes()
{
    const QByteArray request = "POST /test/echo-body HTTP/1.1\r\nContent-Length: 12\r\n\r\nfirst";
    QCOMPARE(fetch(m_server->serverPort(), request), QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nfirst"));

    LoopbackClient client(m_server->serverPort());
    QVERIFY(client.send(request));
    client.readToEnd(10000, 1);
    QVERIFY(client.send(" second")); // after the hand-off: read and dropped
    QVERIFY(client.readToEnd());
    QCOMPARE(client.body(), QByteArray("first"));
}

void tst_HTTPServer::closesOnBytesThatAreNotHTTPAndGoesOn()
{
    LoopbackClient client(m_server->serverPort());
    QVERIFY(client.send(QByteArray("\x16\x03\x01\x00\xa5\x01\x00\x00", 8)));
    QVERIFY(client.readToEnd());
    QVERIFY(client.received().isEmpty());
    QTRY_COMPARE(m_server->incomingRequestCount(), 0);
    QCOMPARE(fetch(m_server->serverPort(), "GET /hello HTTP/1.1\r\n\r\n"), helloResponse);
}

void tst_HTTPServer::forgetsAPeerThatLeavesBeforeItsHeader()
{
    {
        LoopbackClient silent(m_server->serverPort());
        LoopbackClient partial(m_server->serverPort());
        QVERIFY(partial.send("GET /hello HTTP/1.1\r\nHo"));
        QTRY_COMPARE(m_server->incomingRequestCount(), 2);
    }
    QTRY_COMPARE(m_server->incomingRequestCount(), 0);
    QCOMPARE(m_server->responseHandlerCount(), 0);
    QCOMPARE(m_server->state(), HTTPServer::HTTPServerStateRunning);
}

void tst_HTTPServer::answersAPeerThatHalfClosesInFull()
{
    QCOMPARE(fetch(m_server->serverPort(), "GET /hello HTTP/1.1\r\n\r\n", true), helloResponse);

    LoopbackClient client(m_server->serverPort(), 4096);
    QVERIFY(client.send("GET /test/large HTTP/1.1\r\n\r\n"));
    client.endSending();
    QVERIFY(client.readToEnd(30000));
    QCOMPARE(client.body().size(), LargeBodyHandler::bodySize);
    QVERIFY(!client.wasReset());
}

void tst_HTTPServer::servesOthersWhileAPeerDoesNotRead()
{
    LoopbackClient stalled(m_server->serverPort(), 4096);
    QVERIFY(stalled.send("GET /test/large HTTP/1.1\r\n\r\n"));
    QTRY_COMPARE(m_server->responseHandlerCount(), 0); // handed over, answer queued, handler done

    for (int i = 0; i < 3; ++i)
        QCOMPARE(fetch(m_server->serverPort(), "GET /hello HTTP/1.1\r\n\r\n"), helloResponse);

    QVERIFY(stalled.readToEnd(30000));
    QCOMPARE(stalled.body().size(), LargeBodyHandler::bodySize);
}

void tst_HTTPServer::closesAConnectionThatNeverCompletesItsHeader()
{
    HTTPServerOptions options = loopbackOptions();
    options.headerTimeLimit = std::chrono::milliseconds(200);
    HTTPServer server(options);
    server.start();

    LoopbackClient silent(server.serverPort());
    LoopbackClient slow(server.serverPort());
    QVERIFY(slow.send("GET /hello HTTP/1.1\r\n"));
    QVERIFY(silent.readToEnd());
    QVERIFY(slow.readToEnd());
    QVERIFY(silent.received().isEmpty());
    QVERIFY(slow.received().isEmpty());
    QCOMPARE(server.incomingRequestCount(), 0);
}

void tst_HTTPServer::closesAConnectionThatTakesNoBytesForTooLong()
{
    HTTPServerOptions options = loopbackOptions();
    options.stallLimit = std::chrono::milliseconds(300);
    HTTPServer server(options);
    server.start();

    LoopbackClient stalled(server.serverPort(), 4096);
    QVERIFY(stalled.send("GET /test/large HTTP/1.1\r\n\r\n"));
    stalled.readToEnd(10000, 1); // the response has begun
    QTRY_VERIFY_WITH_TIMEOUT(server.findChildren<HTTPConnection *>().isEmpty(), 10000);

    QVERIFY(stalled.readToEnd(30000));
    QVERIFY(stalled.body().size() < LargeBodyHandler::bodySize);
}

void tst_HTTPServer::survivesAPeerThatResetsMidResponse()
{
    {
        LoopbackClient client(m_server->serverPort(), 4096);
        QVERIFY(client.send("GET /test/large HTTP/1.1\r\n\r\n"));
        client.readToEnd(1000, 1);
        client.reset();
    }
    QTRY_VERIFY_WITH_TIMEOUT(m_server->findChildren<HTTPConnection *>().isEmpty(), 10000);
    QCOMPARE(fetch(m_server->serverPort(), "GET /hello HTTP/1.1\r\n\r\n"), helloResponse);
}

void tst_HTTPServer::reportsItsStatesInOrder()
{
    HTTPServer server(loopbackOptions());
    StateRecorder spy(server);
    QCOMPARE(server.state(), HTTPServer::HTTPServerStateIdle);

    server.stop();
    QCOMPARE(spy.seen, (QList<qint32>{3, 0}));
    QVERIFY(!server.lastError());

    spy.seen.clear();
    server.start();
    QCOMPARE(spy.seen, (QList<qint32>{1, 2}));

    spy.seen.clear();
    server.stop();
    QCOMPARE(spy.seen, (QList<qint32>{3, 0}));
    QCOMPARE(server.serverPort(), quint16(0));
}

void tst_HTTPServer::reportsAPortThatIsTaken()
{
    HTTPServerOptions options = loopbackOptions(m_server->serverPort());
    HTTPServer second(options);
    StateRecorder spy(second);

    second.start();
    QCOMPARE(spy.seen, (QList<qint32>{1, 3, 0}));
    QVERIFY(second.lastError());
    QCOMPARE(second.lastError()->domain, QString("HTTPServerError"));
    QCOMPARE(second.lastError()->code, 0);
    QCOMPARE(second.lastError()->localizedDescription, QString("Unable to bind socket to address."));
    QCOMPARE(second.serverPort(), quint16(0));

    // Once the port is free, starting again succeeds and clears the error first.
    m_server.reset();
    spy.seen.clear();
    second.start();
    QCOMPARE(spy.seen, (QList<qint32>{1, 2}));
    QVERIFY(!second.lastError());
    QCOMPARE(fetch(second.serverPort(), "GET /hello HTTP/1.1\r\n\r\n"), helloResponse);
}

void tst_HTTPServer::stopClosesHalfReceivedConnectionsAndLiveHandlers()
{
    LoopbackClient partial(m_server->serverPort());
    QVERIFY(partial.send("GET /hello HTTP/1.1\r\n"));
    LoopbackClient open(m_server->serverPort());
    QVERIFY(open.send("GET /test/open HTTP/1.1\r\n\r\n"));
    QTRY_COMPARE(m_server->incomingRequestCount(), 1);
    QTRY_COMPARE(m_server->responseHandlerCount(), 1);

    m_server->stop();
    QCOMPARE(m_server->incomingRequestCount(), 0);
    QCOMPARE(m_server->responseHandlerCount(), 0);
    QVERIFY(partial.readToEnd());
    QVERIFY(partial.received().isEmpty());
    QVERIFY(open.readToEnd());
    QCOMPARE(open.received(), QByteArray("HTTP/1.1 200 OK\r\n\r\n"));
}

QTEST_GUILESS_MAIN(tst_HTTPServer)
#include "tst_HTTPServer.moc"
