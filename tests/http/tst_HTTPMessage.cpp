// SPDX-License-Identifier: GPL-3.0-or-later
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
    void refusesAHeaderOverTheSizeLimit();
    void serializesAResponse();
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

// Every prefix is "incomplete", never "complete" nor "not HTTP"; and split at any point into two chunks, the
// same request comes out, which is all that assembling a header across reads asks of the parser.
void tst_HTTPMessage::everyPrefixOfAValidRequestIsIncomplete()
{
    QFETCH(QByteArray, bytes);
    for (qsizetype n = 0; n <= bytes.size(); ++n) {
        const QByteArray tag = "split after " + QByteArray::number(n) + " bytes";
        HTTPRequest request;
        QVERIFY2(request.appendBytes(bytes.first(n)), tag);
        QVERIFY2(n == bytes.size() || !request.isHeaderComplete(), tag);
        QVERIFY2(request.appendBytes(bytes.sliced(n)), tag);
        QVERIFY2(request.isHeaderComplete(), tag);
        QTEST(request.method(), "method");
        QTEST(request.target(), "target");
    }
}

void tst_HTTPMessage::refusesWhatIsNotHTTP_data()
{
    QTest::addColumn<QByteArray>("bytes");

    QTest::addRow("TLS hello on a plain port") << QByteArray("\x16\x03\x01\x02\x00\x01\x00", 7);
    QTest::addRow("no version") << QByteArray("GET /\r\n");
    QTest::addRow("wrong protocol") << QByteArray("GET / FTP/1.1\r\n");
    QTest::addRow("version too long") << QByteArray("GET / HTTP/1.10");
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

void tst_HTTPMessage::refusesAHeaderOverTheSizeLimit()
{
    const QByteArray start = "GET / HTTP/1.1\r\nX: ";
    const QByteArray fits = start + QByteArray(HTTPRequest::maxHeaderBytes - start.size() - 4, 'a') + "\r\n\r\n";
    HTTPRequest atTheLimit;
    QVERIFY(atTheLimit.appendBytes(fits));
    QVERIFY(atTheLimit.isHeaderComplete());

    // One byte more, whole or in pieces, and a request line that never ends.
    const QByteArray over = QByteArray(fits).insert(start.size(), 'a');
    HTTPRequest whole;
    QVERIFY(!whole.appendBytes(over));
    HTTPRequest pieces;
    bool accepted = true;
    for (qsizetype at = 0; accepted && at < over.size(); at += 1000)
        accepted = pieces.appendBytes(over.mid(at, 1000));
    QVERIFY(!accepted);
    HTTPRequest endless;
    QVERIFY(!endless.appendBytes("GET /" + QByteArray(HTTPRequest::maxHeaderBytes, 'a')));
}

void tst_HTTPMessage::serializesAResponse()
{
    HTTPResponse response(200);
    response.setHeaderField("Content-Type", "text/plain");
    response.setHeaderField("Content-Length", "6");
    response.setHeaderField("Connection", "close");
    response.setHeaderField("Content-Length", "7"); // keeps its place
    QCOMPARE(response.serialized(), QByteArray("HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 7\r\n"
                                               "Connection: close\r\n\r\n"));
    QCOMPARE(HTTPResponse(400).serialized(), QByteArray("HTTP/1.1 400 Bad Request\r\n\r\n"));
    HTTPResponse page(501);
    page.setBody("<p>é</p>");
    QCOMPARE(page.serialized(), QByteArray("HTTP/1.1 501 Not Implemented\r\n\r\n<p>é</p>"));
}

QTEST_APPLESS_MAIN(tst_HTTPMessage)
#include "tst_HTTPMessage.moc"
