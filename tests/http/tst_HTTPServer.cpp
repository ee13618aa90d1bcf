// SPDX-License-Identifier: GPL-3.0-or-later
#include "HTTPResponseHandler.h"
#include "HTTPServer.h"
#include "LoopbackClient.h"
#include "LoopbackServer.h"

#include <QScopeGuard>
#include <QSocketNotifier>
#include <QTest>

#include <sys/resource.h>

namespace {

// Keeps its response open until the peer goes away or the server stops.
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

QByteArray notImplementedResponse(const QByteArray &shown)
{
    return "HTTP/1.1 501 Not Implemented\r\nContent-Type: text/html\r\nConnection: close\r\n\r\n<html><head><title>501 "
           "- Not Implemented</title></head><body><h1>501 - Not Implemented</h1><p>No handler exists to handle "
           + shown + ".</p></body></html>";
}

// The number a new descriptor would get, the lowest free one; -1 when none is left.
int nextDescriptor()
{
    const int descriptor = ::socket(AF_INET, SOCK_STREAM, 0);
    if (descriptor >= 0)
        ::close(descriptor);
    return descriptor;
}

} // namespace

class tst_HTTPServer : public QObject
{
    Q_OBJECT

public:
    enum Pace { AllAtOnce, ThenEndsSending, OneByteAtATime };
    Q_ENUM(Pace)

private slots:
    void initTestCase() { HTTPResponseHandler::registerHandler(HandlerClass::of<OpenEndedHandler>()); }
    void cleanup() { m_server.reset(); }

    void answers_data();
    void answers();
    void closesWithoutAnAnswer_data();
    void closesWithoutAnAnswer();
    void stopClosesEveryConnection();
    void reportsATakenPortThenStartsOnceItIsFree();
    void outlivesRunningOutOfDescriptors();

private:
    HTTPServer &start(HTTPServerOptions options = loopbackOptions())
    {
        m_server = std::make_unique<HTTPServer>(options);
        m_server->start();
        return *m_server;
    }

    std::unique_ptr<HTTPServer> m_server;
};

void tst_HTTPServer::answers_data()
{
    QTest::addColumn<QByteArray>("target");
    QTest::addColumn<QByteArray>("response");

    QTest::addRow("hello") << QByteArray("/hello") << helloResponse;
    QTest::addRow("hello, absolute form") << QByteArray("http://127.0.0.1/hello?x=1") << helloResponse;
    QTest::addRow("root") << QByteArray("/") << notImplementedResponse("/");
    QTest::addRow("a further segment") << QByteArray("/hello/world") << notImplementedResponse("/hello/world");
    QTest::addRow("query kept") << QByteArray("/x?a=1&b=%20") << notImplementedResponse("/x?a=1&b=%20");
    QTest::addRow("markup escaped") << QByteArray("/<b>\"'") << notImplementedResponse("/%3Cb%3E%22%27");
}

void tst_HTTPServer::answers()
{
    QFETCH(QByteArray, target);
    start();
    QTEST(fetch(m_server->serverPort(), "GET " + target + " HTTP/1.1\r\n\r\n"), "response");
}

void tst_HTTPServer::closesWithoutAnAnswer_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<Pace>("pace");
    QTest::addColumn<int>("headerTimeLimitMs"); // long where anything but the header time limit must close

    QTest::addRow("not HTTP") << QByteArray("\x16\x03\x01\x00\xa5\x01\x00\x00", 8) << AllAtOnce << 30000;
    QTest::addRow("a request line that never ends") << "GET /" + QByteArray(1 << 20, 'a') << AllAtOnce << 30000;
    QTest::addRow("ends its side mid-header") << QByteArray("GET /hello HTTP/1.1\r\nHo") << ThenEndsSending << 30000;
    QTest::addRow("says nothing") << QByteArray() << AllAtOnce << 1000;
    QTest::addRow("a request line and no more") << QByteArray("GET /hello HTTP/1.1\r\n") << AllAtOnce << 1000;
    // Each byte is progress, but the limit is on the whole header, not on silence.
    QTest::addRow("a slow trickle") << QByteArray("GET /hello HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n") << OneByteAtATime
                                    << 1000;
}

void tst_HTTPServer::closesWithoutAnAnswer()
{
    QFETCH(QByteArray, bytes);
    QFETCH(Pace, pace);
    QFETCH(int, headerTimeLimitMs);
    HTTPServerOptions options = loopbackOptions();
    options.headerTimeLimit = std::chrono::milliseconds(headerTimeLimitMs);
    HTTPServer &server = start(options);

    LoopbackClient client(server.serverPort());
    if (pace == OneByteAtATime) {
        qsizetype sent = 0;
        while (sent < bytes.size() && client.send(bytes.mid(sent, 1)) && !client.readToEnd(headerTimeLimitMs / 10))
            ++sent;
        // Open while bytes came within the limit, closed before the header was whole.
        QVERIFY2(sent >= 2 && sent < bytes.size(), qPrintable(QString::number(sent)));
    } else {
        client.send(bytes); // may fail part way once the server has closed: that is the point
        if (pace == ThenEndsSending)
            client.endSending();
    }
    QVERIFY2(client.readToEnd(), "the connection stayed open");
    QCOMPARE(client.received(), QByteArray());
    QTRY_COMPARE(server.incomingRequestCount(), 0);
    QCOMPARE(fetch(server.serverPort(), helloRequest), helloResponse);
}

void tst_HTTPServer::stopClosesEveryConnection()
{
    HTTPServer &server = start();
    LoopbackClient partial(server.serverPort());
    QVERIFY(partial.send("GET /hello HTTP/1.1\r\n"));
    LoopbackClient open(server.serverPort());
    QVERIFY(open.send("GET /test/open HTTP/1.1\r\n\r\n"));
    QTRY_COMPARE(server.incomingRequestCount(), 1);
    QTRY_COMPARE(server.responseHandlerCount(), 1);

    server.stop();
    QCOMPARE(server.incomingRequestCount(), 0);
    QCOMPARE(server.responseHandlerCount(), 0);
    QVERIFY(partial.readToEnd());
    QCOMPARE(partial.received(), QByteArray());
    QVERIFY(open.readToEnd());
    QCOMPARE(open.received(), QByteArray("HTTP/1.1 200 OK\r\n\r\n"));
}

void tst_HTTPServer::reportsATakenPortThenStartsOnceItIsFree()
{
    HTTPServer second(loopbackOptions(start().serverPort()));
    QList<qint32> states; // each read as it is announced
    connect(&second, &HTTPServer::stateChanged, this, [&states](HTTPServer *server) { states << server->state(); });

    second.start();
    QCOMPARE(states, (QList<qint32>{1, 3, 0})); // starting, stopping, idle
    QVERIFY(second.lastError());
    QCOMPARE(second.lastError()->description(),
             QString("Error Domain=HTTPServerError Code=0 \"Unable to bind socket to address.\""));

    m_server.reset();
    states.clear();
    second.start();
    QCOMPARE(states, (QList<qint32>{1, 2})); // starting, running
    QVERIFY(!second.lastError());
    QCOMPARE(fetch(second.serverPort(), helloRequest), helloResponse);
}

// Out of descriptors, the server must neither stop nor spin on a listening socket it cannot accept from, and must
// answer again once descriptors are free. Nothing is fetched before the flood: a finished connection closing while
// the table fills would free a descriptor for a moment and make "every descriptor taken" come and go.
void tst_HTTPServer::outlivesRunningOutOfDescriptors()
{
    HTTPServer &server = start();
    // Its wake-ups are counted by a plain closure on the listening socket's notifier: under the sanitizers, the first
    // check of an object's dynamic type opens a pipe, which a process out of descriptors cannot.
    const QList<QSocketNotifier *> listening = server.findChildren<QSocketNotifier *>(Qt::FindDirectChildrenOnly);
    QCOMPARE(listening.size(), 1);
    int wakeUps = 0;
    connect(listening.first(), &QSocketNotifier::activated, this, [&wakeUps] { ++wakeUps; });
    std::vector<std::unique_ptr<LoopbackClient>> silent;
    for (int i = 0; i < 100; ++i)
        silent.push_back(std::make_unique<LoopbackClient>(server.serverPort()));
    LoopbackClient waiting(server.serverPort());
    QVERIFY(waiting.send(helloRequest));

    {
        // The kernel has completed every connection; the server may take a few more descriptors, not all of them.
        rlimit saved{};
        ::getrlimit(RLIMIT_NOFILE, &saved);
        const auto restore = qScopeGuard([saved] { ::setrlimit(RLIMIT_NOFILE, &saved); });
        const rlimit lowered{rlim_t(nextDescriptor() + 16), saved.rlim_max};
        ::setrlimit(RLIMIT_NOFILE, &lowered);
        QTRY_COMPARE(nextDescriptor(), -1);
        QVERIFY(server.incomingRequestCount() < qsizetype(silent.size()));

        // Saturated, it pauses between attempts instead of waking for a socket it cannot accept from: a few wake-ups
        // in half a second, where spinning makes thousands even on a busy machine.
        wakeUps = 0;
        QTest::qWait(500);
        QVERIFY2(wakeUps < 50, qPrintable(QStringLiteral("%1 wake-ups").arg(wakeUps)));

        silent.clear();
        QVERIFY(waiting.readToEnd());
        QCOMPARE(waiting.received(), helloResponse);
    }
    QCOMPARE(fetch(server.serverPort(), helloRequest), helloResponse);
    QTRY_COMPARE(server.incomingRequestCount(), 0);
}

QTEST_GUILESS_MAIN(tst_HTTPServer)
#include "tst_HTTPServer.moc"
