// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "RequestURL.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QPair>
#include <QString>

using HeaderFields = QMap<QString, QString>;

// A request being assembled from the bytes of one connection. Bytes in, status out; it knows nothing of sockets.
class HTTPRequest
{
public:
    // A handset's request header is a few hundred bytes; anything this large is not one of theirs and would
    // let one connection hold on to memory without end.
    static constexpr qsizetype maxHeaderBytes = 64 * 1024;

    // Appends received bytes. False when the bytes so far cannot be the start of an HTTP request (or the header
    // has grown past maxHeaderBytes). Bytes after the end of the header are kept as the body.
    bool appendBytes(QByteArrayView bytes);
    bool isHeaderComplete() const { return m_state == State::Complete; }

    // Valid once the header is complete.
    const QString &method() const { return m_method; }
    const QByteArray &target() const { return m_target; }
    RequestURL url() const { return RequestURL(m_target); }
    const HeaderFields &headerFields() const { return m_headerFields; }
    QByteArray body() const { return m_bytes.mid(m_headerLength); }

private:
    enum class State { RequestLine, HeaderLines, Complete, NotHTTP };

    bool parseLine(QByteArrayView line);
    bool parseRequestLine(QByteArrayView line);
    bool parseHeaderLine(QByteArrayView line);

    State m_state = State::RequestLine;
    QByteArray m_bytes;
    qsizetype m_lineStart = 0;
    qsizetype m_headerLength = 0;
    QString m_method;
    QByteArray m_target;
    HeaderFields m_headerFields;
};

// A response head: status line and header fields in the order they were set. The body is sent separately.
class HTTPResponse
{
public:
    explicit HTTPResponse(int statusCode);
    // The head of every plain-text answer: "Content-Type: text/plain", "Connection: close" and the body's length.
    static HTTPResponse plainText(int statusCode, qint64 contentLength);

    int statusCode() const { return m_statusCode; }
    // Sets a header field; a field set again keeps its place and takes the new value.
    void setHeaderField(const QByteArray &name, const QByteArray &value);
    void setBody(QByteArray body) { m_body = std::move(body); }

    // "HTTP/1.1 <code> <reason>\r\n", the header lines, an empty line, then the body if one was set.
    QByteArray serialized() const;

    static QByteArray reasonPhrase(int statusCode);

private:
    int m_statusCode;
    QList<QPair<QByteArray, QByteArray>> m_headerFields;
    QByteArray m_body;
};
