#include "HTTPMessage.h"

#include <QTest>

class tst_HTTPMessage : public QObject
{
    Q_OBJECT

private slots:
    void everyPrefixOfAValidRequestIsIncomplete_data();
    void everyPrefixOfAValidRequestIsIncomplete();
    void refusesWhatIsNotHTTP_data();
    void refusesWhatIsNotHTTP();
    void keepsBodyBytesThatCameWithTheHeader();
    void refusesAHeaderOverTheLimit();
    void combinesRepeatedHeaderFields();
    void requestURLForms_data();
    void requestURLForms();
    void serializesAResponseHead();
    void serializesABody();
};

void tst_HTTPMessage::everyPrefixOfAValidRequestIsIncomplete_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("method");
    QTest::addColumn<QByteArray>("target");

    QTest::addRow("curl") << QByteArray("GET /hello HTTP/1.1\r\nHost: 127.0.0.1:4556\r\nUser-Agent: curl/7.88.1\r\n"
                                        "Accept: */*\r\n\r\n")
                          << "GET" << QByteArray("/hello");
    QTest::addRow("bare line feeds") << QByteArray("POST /getSong?xx=12 HTTP/1.0\nHost: x\n\n") << "POST"
                                     << QByteArray("/getSong?xx=12");
    QTest::addRow("no header fields") << QByteArray("HEAD * HTTP/1.1\r\n\r\n") << "HEAD" << QByteArray("*");
    QTest::addRow("empty line first") << QByteArray("\r\nGET / HTTP/1.1\r\n\r\n") << "GET" << QByteArray("/");
    QTest::addRow("absolute target") << QByteArray("GET http://h:4556/hello?x=%20 HTTP/1.1\r\nA:\r\n\r\n") << "GET"
                                     << QByteArray("http://h:4556/hello?x=%20");
}

void tst_HTTPMessage::everyPrefixOfAValidRequestIsIncomplete()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, method);
    QFETCH(QByteArray, target);

    for (qsizetype n = 0; n < bytes.size(); ++n) {
        HTTPRequest prefix;
        QVERIFY2(prefix.appendBytes(bytes.first(n)), qPrintable(QStringLiteral("prefix of %1 bytes").arg(n)));
        QVERIFY2(!prefix.isHeaderComplete(), qPrintable(QStringLiteral("prefix of %1 bytes").arg(n)));
    }

    // Split at every point into two chunks: the same request comes out.
    for (qsizetype n = 0; n <= bytes.size(); ++n) {
        HTTPRequest request;
        QVERIFY(request.appendBytes(bytes.first(n)));
        QVERIFY(request.appendBytes(bytes.sliced(n)));
        QVERIFY(request.isHeaderComplete());
        QCOMPARE(request.method(), method);
        QCOMPARE(request.target(), target);
        QVERIFY(request.body().isEmpty());
    }
}

void tst_HTTPMessage::refusesWhatIsNotHTTP_data()
{
    QTest::addColumn<QByteArray>("bytes");

    QTest::addRow("binary") << QByteArray("\x16\x03\x01\x02\x00\x01\x00", 7);
    QTest::addRow("TLS hello on a plain port") << QByteArray("\x16\x03\x01", 3);
    QTest::addRow("no version") << QByteArray("GET /\r\n");
    QTest::addRow("wrong protocol") << QByteArray("GET / FTP/1.1\r\n");
    QTest::addRow("version too long") << QByteArray("GET / HTTP/1.10");
    QTest::addRow("space in method") << QByteArray("G T / HTTP/1.1\r\n");
    QTest::addRow("two spaces") << QByteArray("GET  / HTTP/1.1\r\n");
    QTest::addRow("bare carriage return") << QByteArray("GET / HTTP/1.1\rHost: x\r\n");
    QTest::addRow("header without colon") << QByteArray("GET / HTTP/1.1\r\nHost x\r\n\r\n");
    QTest::addRow("folded header") << QByteArray("GET / HTTP/1.1\r\nA: b\r\n c\r\n\r\n");
    QTest::addRow("control in value") << QByteArray("GET / HTTP/1.1\r\nA: b\x01\r\n\r\n");
    QTest::addRow("nul in target") << QByteArray("GET /a\0b HTTP/1.1\r\n\r\n", 22);
}

void tst_HTTPMessage::refusesWhatIsNotHTTP()
{
    QFETCH(QByteArray, bytes);
    HTTPRequest request;
    QVERIFY(!request.appendBytes(bytes));
    QVERIFY(!request.isHeaderComplete());
    QVERIFY(!request.appendBytes("\r\n\r\n")); // once refused, always refused
}

void tst_HTTPMessage::keepsBodyBytesThatCameWithTheHeader()
{
    HTTPRequest request;
    QVERIFY(request.appendBytes("POST /hello HTTP/1.1\r\nContent-Length: 9\r\n\r\nbody"));
    QVERIFY(request.isHeaderComplete());
    QCOMPARE(request.body(), QByteArray("body"));
    QVERIFY(request.appendBytes(" more"));
    QCOMPARE(request.body(), QByteArray("body more"));
}

void tst_HTTPMessage::refusesAHeaderOverTheLimit()
{
    const QByteArray start = "GET / HTTP/1.1\r\n";
    const QByteArray field = "X-Filler: " + QByteArray(1000, 'a') + "\r\n";
    QByteArray fits = start;
    while (fits.size() + field.size() + 2 <= HTTPRequest::maxHeaderBytes)
        fits += field;

    HTTPRequest atTheLimit;
    QVERIFY(atTheLimit.appendBytes(fits + "\r\n"));
    QVERIFY(atTheLimit.isHeaderComplete());

    // The same header one field longer, whole or arriving a field at a time, is refused.
    HTTPRequest whole;
    QVERIFY(!whole.appendBytes(fits + field + "\r\n"));
    HTTPRequest trickle;
    bool accepted = trickle.appendBytes(start);
    qsizetype sent = start.size();
    while (accepted && sent <= HTTPRequest::maxHeaderBytes) {
        accepted = trickle.appendBytes(field);
        sent += field.size();
    }
    QVERIFY(!accepted);
}

void tst_HTTPMessage::combinesRepeatedHeaderFields()
{
    HTTPRequest request;
    QVERIFY(request.appendBytes("GET / HTTP/1.1\r\nAccept: a\r\nHost:   h  \r\nAccept: b\r\n\r\n"));
    QCOMPARE(request.headerFields().value("Accept"), QString("a, b"));
    QCOMPARE(request.headerFields().value("Host"), QString("h"));
}

void tst_HTTPMessage::requestURLForms_data()
{
    QTest::addColumn<QByteArray>("target");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("relative");
    QTest::addColumn<QString>("absolute");

    QTest::addRow("plain") << QByteArray("/hello") << "/hello" << "/hello" << "/hello";
    QTest::addRow("query") << QByteArray("/getSongList?device=bb10") << "/getSongList" << "/getSongList?device=bb10"
                           << "/getSongList?device=bb10";
    QTest::addRow("escaped path") << QByteArray("/hel%6Co") << "/hello" << "/hel%6Co" << "/hel%6Co";
    QTest::addRow("absolute form") << QByteArray("http://host:4556/hello?x=1") << "/hello"
                                   << "http://host:4556/hello?x=1" << "http://host:4556/hello?x=1";
    QTest::addRow("markup") << QByteArray("/<script>alert('x\")</script>") << "/<script>alert('x\")</script>"
                            << "/<script>alert('x\")</script>" << "/%3Cscript%3Ealert(%27x%22)%3C/script%3E";
}

void tst_HTTPMessage::requestURLForms()
{
    QFETCH(QByteArray, target);
    const RequestURL url(target);
    QTEST(url.path(), "path");
    QTEST(url.relativeString(), "relative");
    QTEST(url.absoluteString(), "absolute");
}

void tst_HTTPMessage::serializesAResponseHead()
{
    HTTPResponse response(200);
    response.setHeaderField("Content-Type", "text/plain");
    response.setHeaderField("Connection", "close");
    response.setHeaderField("Content-Length", "6");
    QCOMPARE(response.serialized(), QByteArray("HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nConnection: close\r\n"
                                               "Content-Length: 6\r\n\r\n"));

    response.setHeaderField("content-length", "7");
    QVERIFY(response.serialized().endsWith("Content-Length: 7\r\n\r\n"));
    QCOMPARE(HTTPResponse(400).serialized(), QByteArray("HTTP/1.1 400 Bad Request\r\n\r\n"));
}

void tst_HTTPMessage::serializesABody()
{
    HTTPResponse response(501);
    response.setHeaderField("Content-Type", "text/html");
    response.setBody("<p>é</p>");
    QCOMPARE(response.serialized(), QByteArray("HTTP/1.1 501 Not Implemented\r\nContent-Type: text/html\r\n\r\n<p>é</p>"));
}

QTEST_APPLESS_MAIN(tst_HTTPMessage)
#include "tst_HTTPMessage.moc"
