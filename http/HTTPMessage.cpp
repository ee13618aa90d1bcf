// SPDX-License-Identifier: GPL-3.0-or-later
#include "HTTPMessage.h"

namespace {

// RFC 9110 §5.6.2: the characters of a token (methods and header names).
bool isTokenChar(char c)
{
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))
        return true;
    switch (c) {
    case '!': case '#': case '$': case '%': case '&': case '\'': case '*': case '+':
    case '-': case '.': case '^': case '_': case '`': case '|': case '~':
        return true;
    default:
        return false;
    }
}

bool isControl(char c)
{
    const auto u = static_cast<unsigned char>(c);
    return u < 0x20 || u == 0x7f;
}

// Request targets are visible characters; bytes above 0x7f are let through, as some clients send raw UTF-8.
bool isTargetChar(char c)
{
    return c != ' ' && !isControl(c);
}

qsizetype skipWhile(QByteArrayView text, qsizetype i, bool (*accept)(char))
{
    while (i < text.size() && accept(text[i]))
        ++i;
    return i;
}

// Checks a request line, or with complete == false a line still arriving, which only has to be able to grow
// into a valid one. The same rules serve both, so that no prefix of a valid request is ever refused.
bool isValidRequestLine(QByteArrayView line, bool complete)
{
    const qsizetype methodEnd = skipWhile(line, 0, isTokenChar);
    if (methodEnd == line.size())
        return !complete;
    if (methodEnd == 0 || line[methodEnd] != ' ')
        return false;

    const qsizetype targetStart = methodEnd + 1;
    const qsizetype targetEnd = skipWhile(line, targetStart, isTargetChar);
    if (targetEnd == line.size())
        return !complete;
    if (targetEnd == targetStart || line[targetEnd] != ' ')
        return false;

    static constexpr char pattern[] = "HTTP/#.#"; // '#' stands for a digit
    static constexpr qsizetype patternLength = sizeof(pattern) - 1;
    const QByteArrayView version = line.sliced(targetEnd + 1);
    if (version.size() > patternLength || (complete && version.size() != patternLength))
        return false;
    for (qsizetype i = 0; i < version.size(); ++i) {
        const bool ok = pattern[i] == '#' ? (version[i] >= '0' && version[i] <= '9') : version[i] == pattern[i];
        if (!ok)
            return false;
    }
    return true;
}

bool isValidHeaderLine(QByteArrayView line, bool complete)
{
    const qsizetype nameEnd = skipWhile(line, 0, isTokenChar);
    if (nameEnd == line.size())
        return !complete;
    if (nameEnd == 0 || line[nameEnd] != ':')
        return false; // also refuses obsolete line folding (a line that starts with white space)
    for (qsizetype i = nameEnd + 1; i < line.size(); ++i) {
        if (isControl(line[i]) && line[i] != '\t')
            return false;
    }
    return true;
}

QByteArrayView withoutCarriageReturn(QByteArrayView line)
{
    return line.endsWith('\r') ? line.chopped(1) : line;
}

} // namespace

bool HTTPRequest::appendBytes(QByteArrayView bytes)
{
    if (m_state == State::NotHTTP)
        return false;
    m_bytes.append(bytes);
    if (m_state == State::Complete)
        return true;

    qsizetype lineEnd;
    while (m_state != State::Complete && (lineEnd = m_bytes.indexOf('\n', m_lineStart)) >= 0) {
        const QByteArrayView line(m_bytes.constData() + m_lineStart, lineEnd - m_lineStart);
        m_lineStart = lineEnd + 1;
        if (!parseLine(withoutCarriageReturn(line))) {
            m_state = State::NotHTTP;
            return false;
        }
    }
    if (m_state == State::Complete) {
        m_headerLength = m_lineStart;
        return true;
    }

    const QByteArrayView partial = QByteArrayView(m_bytes).sliced(m_lineStart);
    const bool partialOk = m_state == State::RequestLine ? isValidRequestLine(withoutCarriageReturn(partial), false)
                                                         : isValidHeaderLine(withoutCarriageReturn(partial), false);
    if (!partialOk || m_bytes.size() > maxHeaderBytes) {
        m_state = State::NotHTTP;
        return false;
    }
    return true;
}

bool HTTPRequest::parseLine(QByteArrayView line)
{
    if (m_lineStart > maxHeaderBytes)
        return false;
    switch (m_state) {
    case State::RequestLine:
        // RFC 9112 §2.2: empty lines before the request line are ignored.
        return line.isEmpty() || parseRequestLine(line);
    case State::HeaderLines:
        if (line.isEmpty()) {
            m_state = State::Complete;
            return true;
        }
        return parseHeaderLine(line);
    case State::Complete:
    case State::NotHTTP:
        break;
    }
    return false;
}

bool HTTPRequest::parseRequestLine(QByteArrayView line)
{
    if (!isValidRequestLine(line, true))
        return false;
    const qsizetype methodEnd = line.indexOf(' ');
    const qsizetype targetEnd = line.lastIndexOf(' ');
    m_method = QString::fromLatin1(line.first(methodEnd));
    m_target = line.sliced(methodEnd + 1, targetEnd - methodEnd - 1).toByteArray();
    m_state = State::HeaderLines;
    return true;
}

bool HTTPRequest::parseHeaderLine(QByteArrayView line)
{
    if (!isValidHeaderLine(line, true))
        return false;
    const qsizetype colon = line.indexOf(':');
    const QString name = QString::fromLatin1(line.first(colon));
    const QString value = QString::fromLatin1(line.sliced(colon + 1).trimmed());
    auto existing = m_headerFields.find(name);
    if (existing == m_headerFields.end())
        m_headerFields.insert(name, value);
    else
        *existing += QLatin1StringView(", ") + value; // RFC 9110 §5.3: repeated fields combine into a list
    return true;
}

HTTPResponse::HTTPResponse(int statusCode)
    : m_statusCode(statusCode)
{
}

HTTPResponse HTTPResponse::plainText(int statusCode, qint64 contentLength)
{
    HTTPResponse response(statusCode);
    response.setHeaderField("Content-Type", "text/plain");
    response.setHeaderField("Connection", "close");
    response.setHeaderField("Content-Length", QByteArray::number(contentLength));
    return response;
}

void HTTPResponse::setHeaderField(const QByteArray &name, const QByteArray &value)
{
    for (auto &field : m_headerFields) {
        if (field.first.compare(name, Qt::CaseInsensitive) == 0) {
            field.second = value;
            return;
        }
    }
    m_headerFields.append({name, value});
}

QByteArray HTTPResponse::serialized() const
{
    QByteArray bytes = "HTTP/1.1 " + QByteArray::number(m_statusCode) + ' ' + reasonPhrase(m_statusCode) + "\r\n";
    for (const auto &[name, value] : m_headerFields)
        bytes += name + ": " + value + "\r\n";
    bytes += "\r\n";
    bytes += m_body;
    return bytes;
}

QByteArray HTTPResponse::reasonPhrase(int statusCode)
{
    switch (statusCode) {
    case 200: return "OK";
    case 400: return "Bad Request";
    case 404: return "Not Found";
    case 500: return "Internal Server Error";
    case 501: return "Not Implemented";
    case 503: return "Service Unavailable";
    default: return "Unknown";
    }
}
