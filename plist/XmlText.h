// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// XML at the level of characters, for the in-place property-list reader: white space, tag names compared a word at
// a time, character data and its references, UTF-8 checks, and the constructs a reader skips (comments, processing
// instructions, DOCTYPE). The functions the reader calls once per element or more are inline here; the rest are in
// XmlText.cpp. Every function takes the end of the bytes it may read and never reads past it.

#include "PropertyListDocument.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QtEndian>

#include <algorithm>
#include <bit>
#include <cstring>
#include <iterator>
#include <optional>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace XmlText {

// The elements of a property list, by name.
enum class Element : quint8 { Unknown, Plist, Dictionary, Array, Key, String, Integer, Real, True, False, Date, Data };

// Longest reference we accept, e.g. "&#x0010FFFF;"; XML allows endless leading zeros, nobody writes them.
inline constexpr qsizetype kMaxReferenceLength = 16;

inline bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

inline const char *skipSpace(const char *p, const char *end)
{
    while (p < end && isSpace(*p))
        ++p;
    return p;
}

// Compares short literals byte by byte: the loop unrolls, where memcmp would be a call per tag.
template <size_t N>
bool startsWith(const char *p, const char *end, const char (&prefix)[N])
{
    if (size_t(end - p) < N - 1)
        return false;
    for (size_t i = 0; i < N - 1; ++i) {
        if (p[i] != prefix[i])
            return false;
    }
    return true;
}

// Up to eight bytes at p, little-endian, zero-padded past `end`: tag names are compared a word at a time.
inline quint64 loadWord(const char *p, const char *end)
{
    quint64 word = 0;
    if (end - p >= 8) {
        std::memcpy(&word, p, 8);
        return qFromLittleEndian(word);
    }
    for (qsizetype i = 0; i < end - p; ++i)
        word |= quint64(uchar(p[i])) << (8 * i);
    return word;
}

struct ElementName
{
    std::string_view text;
    quint64 word = 0;
    quint64 mask = 0;
    PlistNode::Kind kind = PlistNode::Dictionary;
};

constexpr ElementName elementName(std::string_view text, PlistNode::Kind kind)
{
    ElementName name{text, 0, 0, kind};
    for (size_t i = 0; i < text.size(); ++i) {
        name.word |= quint64(uchar(text[i])) << (8 * i);
        name.mask |= quint64(0xFF) << (8 * i);
    }
    return name;
}

// Indexed by Element.
inline constexpr ElementName kElementNames[] = {
    {},
    elementName("plist", PlistNode::Dictionary),
    elementName("dict", PlistNode::Dictionary),
    elementName("array", PlistNode::Array),
    elementName("key", PlistNode::Key),
    elementName("string", PlistNode::String),
    elementName("integer", PlistNode::Integer),
    elementName("real", PlistNode::Real),
    elementName("true", PlistNode::True),
    elementName("false", PlistNode::False),
    elementName("date", PlistNode::Date),
    elementName("data", PlistNode::Data),
};
static_assert(std::size(kElementNames) == size_t(Element::Data) + 1);
static_assert(kElementNames[size_t(Element::Key)].text == "key" && kElementNames[size_t(Element::Data)].text == "data");

inline PlistNode::Kind kindOf(Element element)
{
    return kElementNames[size_t(element)].kind;
}

inline bool isNameEnd(char c)
{
    return c == '>' || c == '/' || isSpace(c);
}

// Recognises the element name at p and moves p past it; the name must be followed by a byte that ends it.
inline Element readElementName(const char *&p, const char *end)
{
    const quint64 word = loadWord(p, end);
    const auto is = [&](Element element) {
        const ElementName &name = kElementNames[size_t(element)];
        const char *after = p + name.text.size();
        if ((word & name.mask) != name.word || after >= end || !isNameEnd(*after))
            return false;
        p = after;
        return true;
    };
    switch (*p) {
    case 'k': return is(Element::Key) ? Element::Key : Element::Unknown;
    case 's': return is(Element::String) ? Element::String : Element::Unknown;
    case 'i': return is(Element::Integer) ? Element::Integer : Element::Unknown;
    case 'd':
        return is(Element::Dictionary) ? Element::Dictionary
            : is(Element::Date)        ? Element::Date
            : is(Element::Data)        ? Element::Data
                                       : Element::Unknown;
    case 't': return is(Element::True) ? Element::True : Element::Unknown;
    case 'f': return is(Element::False) ? Element::False : Element::Unknown;
    case 'a': return is(Element::Array) ? Element::Array : Element::Unknown;
    case 'r': return is(Element::Real) ? Element::Real : Element::Unknown;
    case 'p': return is(Element::Plist) ? Element::Plist : Element::Unknown;
    default: return Element::Unknown;
    }
}

// The end tag of `element` at p and what follows it, or nullptr.
inline const char *readEndTag(const char *p, const char *end, Element element)
{
    const ElementName &name = kElementNames[size_t(element)];
    if (end - p < qsizetype(name.text.size()) + 3 || p[0] != '<' || p[1] != '/'
        || (loadWord(p + 2, end) & name.mask) != name.word)
        return nullptr;
    p += 2 + name.text.size();
    if (*p == '>')
        return p + 1;
    p = skipSpace(p, end);
    return p < end && *p == '>' ? p + 1 : nullptr;
}

// Reads `name="value"` pairs up to the end of a start tag; the values are checked but not kept. Sets `empty` for
// "/>" and returns what follows the tag, or nullptr.
const char *readAttributes(const char *p, const char *end, bool &empty);

inline bool isXmlChar(char32_t c)
{
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD)
        || (c >= 0x10000 && c <= 0x10FFFF);
}

// Length of the well-formed UTF-8 encoding of one XML character at p (whose lead byte is >= 0x80), or 0.
inline int utf8CharLength(const char *p, const char *end)
{
    const auto *u = reinterpret_cast<const unsigned char *>(p);
    const qsizetype available = end - p;
    const auto continuation = [&](int i) { return i < available && (u[i] & 0xC0) == 0x80; };
    const unsigned lead = u[0];
    if (lead >= 0xC2 && lead <= 0xDF)
        return continuation(1) ? 2 : 0;
    if (lead >= 0xE0 && lead <= 0xEF) {
        if (!continuation(1) || !continuation(2))
            return 0;
        const char32_t c = (lead & 0x0F) << 12 | (u[1] & 0x3F) << 6 | (u[2] & 0x3F);
        return c >= 0x800 && isXmlChar(c) ? 3 : 0;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        if (!continuation(1) || !continuation(2) || !continuation(3))
            return 0;
        const char32_t c = (lead & 0x07) << 18 | (u[1] & 0x3F) << 12 | (u[2] & 0x3F) << 6 | (u[3] & 0x3F);
        return c >= 0x10000 && c <= 0x10FFFF ? 4 : 0;
    }
    return 0;
}

inline std::optional<char32_t> numericReference(std::string_view digits, int base)
{
    if (digits.empty())
        return std::nullopt;
    char32_t value = 0;
    for (const char c : digits) {
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            return std::nullopt;
        value = value * base + digit;
        if (value > 0x10FFFF)
            return std::nullopt;
    }
    if (!isXmlChar(value))
        return std::nullopt;
    return value;
}

// Length of the reference starting at p ('&') and its character, or 0 if it is malformed or names an entity
// other than XML's five: nothing is ever expanded from a DOCTYPE.
inline int parseReference(const char *p, const char *end, char32_t &character)
{
    const auto *semicolon =
        static_cast<const char *>(std::memchr(p, ';', size_t(std::min<qsizetype>(end - p, kMaxReferenceLength))));
    if (!semicolon)
        return 0;
    const std::string_view body(p + 1, size_t(semicolon - p - 1));
    std::optional<char32_t> value;
    if (body.starts_with("#x"))
        value = numericReference(body.substr(2), 16);
    else if (body.starts_with('#'))
        value = numericReference(body.substr(1), 10);
    else if (body == "amp")
        value = U'&';
    else if (body == "lt")
        value = U'<';
    else if (body == "gt")
        value = U'>';
    else if (body == "quot")
        value = U'"';
    else if (body == "apos")
        value = U'\'';
    if (!value)
        return 0;
    character = *value;
    return int(semicolon - p + 1);
}

// The first byte in [p, end) that character data cannot simply pass over: markup, a reference, the ']' that
// could start "]]>", a control character, or the lead byte of a multi-byte UTF-8 sequence.
inline const char *findSpecial(const char *p, const char *end)
{
#if defined(__SSE2__)
    const __m128i less = _mm_set1_epi8('<');
    const __m128i ampersand = _mm_set1_epi8('&');
    const __m128i bracket = _mm_set1_epi8(']');
    const __m128i space = _mm_set1_epi8(0x20);
    while (end - p >= 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
        // Signed comparison: below 0x20 catches control characters and every byte >= 0x80 at once.
        const __m128i hits = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, less), _mm_cmpeq_epi8(v, ampersand)),
                                          _mm_or_si128(_mm_cmpeq_epi8(v, bracket), _mm_cmplt_epi8(v, space)));
        const int mask = _mm_movemask_epi8(hits);
        if (mask != 0)
            return p + std::countr_zero(unsigned(mask));
        p += 16;
    }
#endif
    for (; p < end; ++p) {
        const unsigned char c = *p;
        if (c == '<' || c == '&' || c == ']' || c < 0x20 || c >= 0x80)
            return p;
    }
    return end;
}

// Checks character data up to the next '<' and returns it, or nullptr if the data is malformed or unterminated.
// Sets PlistNode::NeedsDecoding in `flags` when the text holds references or carriage returns.
inline const char *scanCharData(const char *p, const char *end, quint8 &flags)
{
    for (;;) {
        p = findSpecial(p, end);
        if (p == end)
            return nullptr;
        const unsigned char c = *p;
        if (c == '<')
            return p;
        if (c == '&') {
            char32_t ignored;
            const int length = parseReference(p, end, ignored);
            if (length == 0)
                return nullptr;
            flags |= PlistNode::NeedsDecoding;
            p += length;
        } else if (c >= 0x80) {
            const int length = utf8CharLength(p, end);
            if (length == 0)
                return nullptr;
            p += length;
        } else if (c == ']') {
            if (startsWith(p, end, "]]>"))
                return nullptr;
            ++p;
        } else if (c == '\t' || c == '\n') {
            ++p;
        } else if (c == '\r') {
            flags |= PlistNode::NeedsDecoding;
            ++p;
        } else {
            return nullptr;
        }
    }
}

// True if [p, end) holds only XML characters in UTF-8.
bool isCharData(const char *p, const char *end);

// Each skips one construct at p (its opening is there) and returns what follows it, or nullptr if it is malformed.
// skipDelimited: from `open` to `close`, with character data between.
const char *skipDelimited(const char *p, const char *end, std::string_view open, std::string_view close);
const char *skipComment(const char *p, const char *end);
// Any processing instruction but the XML declaration, which may only open the document.
const char *skipProcessingInstruction(const char *p, const char *end);
// The XML declaration if p is at one (else p itself).
const char *skipXmlDeclaration(const char *p, const char *end);
// A DOCTYPE that only names an external DTD; an internal subset could declare entities, so it is refused.
const char *skipDoctype(const char *p, const char *end);

// The text without the white space at either end.
std::string_view trimmed(QByteArrayView text);

// The UTF-8 text of a span that the reader accepted: references, CDATA, comments and line ends resolved.
QByteArray decode(QByteArrayView raw);

} // namespace XmlText
