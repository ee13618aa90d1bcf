// SPDX-License-Identifier: GPL-3.0-or-later
#include "XmlText.h"

#include <algorithm>

namespace XmlText {

namespace {

// Start of the first occurrence of `needle` in [p, end), or nullptr.
const char *find(const char *p, const char *end, std::string_view needle)
{
    const std::string_view haystack(p, size_t(end - p));
    const size_t at = haystack.find(needle);
    return at == std::string_view::npos ? nullptr : p + at;
}

// True at "<?xml " (any case): the XML declaration, which may only open the document.
bool isXmlDeclaration(const char *p, const char *end)
{
    return end - p > 5 && (p[2] | 0x20) == 'x' && (p[3] | 0x20) == 'm' && (p[4] | 0x20) == 'l'
        && (isSpace(p[5]) || p[5] == '?');
}

bool isAttributeValue(const char *p, const char *end)
{
    while (p < end) {
        const char *stop = std::find_if(p, end, [](char c) { return c == '<' || c == '&'; });
        if (!isCharData(p, stop))
            return false;
        if (stop == end)
            return true;
        char32_t ignored;
        const int length = *stop == '&' ? parseReference(stop, end, ignored) : 0;
        if (length == 0)
            return false;
        p = stop + length;
    }
    return true;
}

void appendUtf8(QByteArray &out, char32_t c)
{
    if (c < 0x80) {
        out.append(char(c));
    } else if (c < 0x800) {
        out.append(char(0xC0 | c >> 6));
        out.append(char(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.append(char(0xE0 | c >> 12));
        out.append(char(0x80 | (c >> 6 & 0x3F)));
        out.append(char(0x80 | (c & 0x3F)));
    } else {
        out.append(char(0xF0 | c >> 18));
        out.append(char(0x80 | (c >> 12 & 0x3F)));
        out.append(char(0x80 | (c >> 6 & 0x3F)));
        out.append(char(0x80 | (c & 0x3F)));
    }
}

// Appends text with XML's line-end normalisation: CR LF and lone CR both become LF.
void appendNormalisingLineEnds(QByteArray &out, const char *p, const char *end)
{
    while (p < end) {
        const auto *cr = static_cast<const char *>(std::memchr(p, '\r', size_t(end - p)));
        if (!cr) {
            out.append(p, end - p);
            return;
        }
        out.append(p, cr - p);
        out.append('\n');
        p = cr + 1;
        if (p < end && *p == '\n')
            ++p;
    }
}

} // namespace

const char *readAttributes(const char *p, const char *end, bool &empty)
{
    const auto isNameChar = [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == ':'
            || c == '-' || c == '.';
    };
    for (;;) {
        const char *q = skipSpace(p, end);
        if (q == end)
            return nullptr;
        if (*q == '>' || (*q == '/' && q + 1 < end && q[1] == '>')) {
            empty = *q == '/';
            return q + (empty ? 2 : 1);
        }
        if (q == p || !isNameChar(*q) || (*q >= '0' && *q <= '9') || *q == '-' || *q == '.')
            return nullptr; // attributes need whitespace before them and a name
        while (q < end && isNameChar(*q))
            ++q;
        q = skipSpace(q, end);
        if (q == end || *q != '=')
            return nullptr;
        q = skipSpace(q + 1, end);
        if (q == end || (*q != '"' && *q != '\''))
            return nullptr;
        const auto *quote = static_cast<const char *>(std::memchr(q + 1, *q, size_t(end - q - 1)));
        if (!quote)
            return nullptr;
        if (!isAttributeValue(q + 1, quote))
            return nullptr;
        p = quote + 1;
    }
}

bool isCharData(const char *p, const char *end)
{
    while (p < end) {
        const unsigned char c = *p;
        if (c >= 0x20 && c < 0x80) {
            ++p;
        } else if (c >= 0x80) {
            const int length = utf8CharLength(p, end);
            if (length == 0)
                return false;
            p += length;
        } else if (c == '\t' || c == '\n' || c == '\r') {
            ++p;
        } else {
            return false;
        }
    }
    return true;
}

const char *skipDelimited(const char *p, const char *end, std::string_view open, std::string_view close)
{
    const char *body = p + open.size();
    const char *closing = find(body, end, close);
    if (!closing || !isCharData(body, closing))
        return nullptr;
    return closing + close.size();
}

const char *skipComment(const char *p, const char *end)
{
    const char *body = p + 4;
    const char *dashes = find(body, end, "--");
    // "--" may only appear as the start of "-->".
    if (!dashes || dashes + 2 >= end || dashes[2] != '>' || !isCharData(body, dashes))
        return nullptr;
    return dashes + 3;
}

const char *skipProcessingInstruction(const char *p, const char *end)
{
    const auto startsName = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == ':'; };
    if (p + 2 >= end || !startsName(p[2]) || isXmlDeclaration(p, end))
        return nullptr;
    return skipDelimited(p, end, "<?", "?>");
}

const char *skipXmlDeclaration(const char *p, const char *end)
{
    if (!startsWith(p, end, "<?xml") || !isXmlDeclaration(p, end))
        return p;
    const char *body = skipSpace(p + 5, end);
    if (!startsWith(body, end, "version"))
        return nullptr;
    return skipDelimited(p, end, "<?", "?>");
}

const char *skipDoctype(const char *p, const char *end)
{
    p += 9; // "<!DOCTYPE"
    if (p >= end || !isSpace(*p))
        return nullptr;
    while (p < end) {
        const char c = *p;
        if (c == '>')
            return p + 1;
        if (c == '[' || c == '<')
            return nullptr;
        if (c == '"' || c == '\'') {
            const auto *quote = static_cast<const char *>(std::memchr(p + 1, c, size_t(end - p - 1)));
            if (!quote || !isCharData(p + 1, quote))
                return nullptr;
            p = quote + 1;
        } else if (isSpace(c) || (c >= 0x21 && c < 0x7F)) {
            ++p;
        } else {
            return nullptr;
        }
    }
    return nullptr;
}

std::string_view trimmed(QByteArrayView text)
{
    const char *p = text.begin();
    const char *end = text.end();
    while (p < end && isSpace(*p))
        ++p;
    while (end > p && isSpace(end[-1]))
        --end;
    return std::string_view(p, size_t(end - p));
}

QByteArray decode(QByteArrayView raw)
{
    QByteArray out;
    out.reserve(raw.size());
    const char *p = raw.begin();
    const char *end = raw.end();
    while (p < end) {
        const char *run = p;
        while (p < end && *p != '&' && *p != '<')
            ++p;
        appendNormalisingLineEnds(out, run, p);
        if (p == end)
            break;
        if (*p == '&') {
            char32_t c = 0;
            const int length = parseReference(p, end, c);
            if (length == 0)
                break; // cannot happen for text that the reader accepted
            appendUtf8(out, c);
            p += length;
        } else if (startsWith(p, end, "<![CDATA[")) {
            const char *body = p + 9;
            const char *close = find(body, end, "]]>");
            if (!close)
                break;
            appendNormalisingLineEnds(out, body, close);
            p = close + 3;
        } else {
            const bool comment = startsWith(p, end, "<!--");
            const char *close = find(p + (comment ? 4 : 2), end, comment ? "-->" : "?>");
            if (!close)
                break;
            p = close + (comment ? 3 : 2);
        }
    }
    return out;
}

} // namespace XmlText
