#include "XmlPropertyListReader.h"

#include <QtEndian>

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cstring>
#include <optional>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// Longest reference we accept, e.g. "&#x0010FFFF;"; XML allows endless leading zeros, nobody writes them.
constexpr qsizetype kMaxReferenceLength = 16;
// Every element is at least this long ("<key/>"), which bounds the number of nodes a file can produce.
constexpr qsizetype kShortestElement = 6;
// While a file is still arriving, the bytes that must be there ahead of each element before it is read; an
// element longer than this is read again once the whole file is in.
constexpr qsizetype kReadAhead = qsizetype(1) << 18;

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

const char *skipSpace(const char *p, const char *end)
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

// Start of the first occurrence of `needle` in [p, end), or nullptr.
const char *find(const char *p, const char *end, std::string_view needle)
{
    const std::string_view haystack(p, size_t(end - p));
    const size_t at = haystack.find(needle);
    return at == std::string_view::npos ? nullptr : p + at;
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

// Indexed by XmlPropertyListReader::Element.
constexpr ElementName kElementNames[] = {
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

bool isNameEnd(char c)
{
    return c == '>' || c == '/' || isSpace(c);
}

bool isXmlChar(char32_t c)
{
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD)
        || (c >= 0x10000 && c <= 0x10FFFF);
}

// Length of the well-formed UTF-8 encoding of one XML character at p (whose lead byte is >= 0x80), or 0.
int utf8CharLength(const char *p, const char *end)
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

// True if [p, end) holds only XML characters in UTF-8.
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

std::optional<char32_t> numericReference(std::string_view digits, int base)
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
int parseReference(const char *p, const char *end, char32_t &character)
{
    const auto *semicolon = static_cast<const char *>(std::memchr(p, ';', size_t(std::min<qsizetype>(end - p, kMaxReferenceLength))));
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

// Skips a construct from `open` to `close` whose body must be character data; p is at `open`.
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

// True at "<?xml " (any case): the XML declaration, which may only open the document.
bool isXmlDeclaration(const char *p, const char *end)
{
    return end - p > 5 && (p[2] | 0x20) == 'x' && (p[3] | 0x20) == 'm' && (p[4] | 0x20) == 'l'
        && (isSpace(p[5]) || p[5] == '?');
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

// Skips a DOCTYPE that only names an external DTD; an internal subset could declare entities, so it is refused.
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

std::optional<qint64> parseInteger(std::string_view text)
{
    bool negative = false;
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty())
        return std::nullopt;
    // Eighteen digits cannot overflow, so the usual case skips the overflow check.
    constexpr size_t kSafeDigits = 18;
    const quint64 limit = negative ? quint64(1) << 63 : (quint64(1) << 63) - 1;
    quint64 magnitude = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned digit = unsigned(uchar(text[i])) - '0';
        if (digit > 9 || (i >= kSafeDigits && magnitude > (limit - digit) / 10))
            return std::nullopt;
        magnitude = magnitude * 10 + digit;
    }
    // Two's complement makes the magnitude 2^63 come out as the smallest qint64.
    return negative ? qint64(0 - magnitude) : qint64(magnitude);
}

std::optional<double> parseReal(std::string_view text)
{
    if (text.starts_with('+'))
        text.remove_prefix(1);
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

struct ByteSet
{
    std::array<bool, 256> contains{};
    constexpr explicit ByteSet(std::string_view bytes)
    {
        for (const char c : bytes)
            contains[uchar(c)] = true;
    }
    bool containsAll(std::string_view text) const
    {
        return std::all_of(text.begin(), text.end(), [this](char c) { return contains[uchar(c)]; });
    }
};

// Checked loosely: neither is ever decoded.
constexpr ByteSet kDateBytes("0123456789-:.+TZ");
constexpr ByteSet kBase64Bytes("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/= \t\r\n");

} // namespace

bool XmlPropertyListReader::read(PropertyListDocument &doc)
{
    XmlPropertyListReader reader(doc);
    return reader.readDocument();
}

XmlPropertyListReader::XmlPropertyListReader(PropertyListDocument &doc)
    : m_doc(doc)
    , m_begin(doc.bytes)
    , m_end(doc.arriving ? doc.bytes : doc.bytes + doc.size)
    , m_complete(!doc.arriving)
{
    // An upper bound, so the arena never reallocates; pages that stay unused are never touched.
    m_doc.nodes.reserve(size_t(doc.size / kShortestElement + 1));
    m_pending.reserve(4096);
    m_open.reserve(kMaxPlistNestingDepth + 1);
}

bool XmlPropertyListReader::readDocument()
{
    if (m_doc.size > kMaxPlistFileBytes)
        return false;
    awaitBytes(m_begin);
    const char *p = retryOnWholeFile(m_begin, [this](const char *q) { return readUpToRoot(q); });
    if (!p || !(p = retryOnWholeFile(p, [this](const char *q) { return openRootDictionary(q); })) || !(p = readNested(p)))
        return false;
    awaitWholeFile();
    m_doc.size = m_end - m_begin;
    if (!(p = skipMisc(p)) || !(p = readEndTag(p, Element::Plist)) || !(p = skipMisc(p)))
        return false;
    return p == m_end;
}

// Makes the next kReadAhead bytes from p available, as far as the file has them.
void XmlPropertyListReader::awaitBytes(const char *p)
{
    if (m_complete || m_end - p >= kReadAhead)
        return;
    const ArrivingBytes::Progress progress = m_doc.arriving->waitFor(p - m_begin + kReadAhead);
    m_end = m_begin + progress.arrived;
    m_complete = progress.complete;
}

// Waits for the rest of the file; false if it was all there already.
bool XmlPropertyListReader::awaitWholeFile()
{
    if (m_complete)
        return false;
    const ArrivingBytes::Progress progress = m_doc.arriving->waitFor(m_doc.size);
    m_end = m_begin + progress.arrived;
    m_complete = true;
    return true;
}

// Runs a step that changes nothing when it fails; if it failed for want of bytes, runs it again on the whole file.
template <typename Step>
const char *XmlPropertyListReader::retryOnWholeFile(const char *p, Step step)
{
    const char *next = step(p);
    if (!next && awaitWholeFile())
        next = step(p);
    return next;
}

// The byte-order mark, declaration, DOCTYPE, comments and <plist> start tag.
const char *XmlPropertyListReader::readUpToRoot(const char *p) const
{
    if (startsWith(p, m_end, "\xEF\xBB\xBF"))
        p += 3;
    if (!(p = skipXmlDeclaration(p, m_end)) || !(p = readProlog(p)))
        return nullptr;
    return readPlistStart(p);
}

const char *XmlPropertyListReader::readProlog(const char *p) const
{
    bool seenDoctype = false;
    for (;;) {
        if (!(p = skipMisc(p)))
            return nullptr;
        if (!startsWith(p, m_end, "<!DOCTYPE"))
            return p;
        if (seenDoctype || !(p = skipDoctype(p, m_end)))
            return nullptr;
        seenDoctype = true;
    }
}

const char *XmlPropertyListReader::readPlistStart(const char *p) const
{
    const StartTag tag = readStartTag(p);
    if (tag.element != Element::Plist || tag.empty)
        return nullptr;
    return tag.next;
}

// Skips whitespace, comments and processing instructions; returns the next other byte, or nullptr if one of
// those was malformed.
const char *XmlPropertyListReader::skipMisc(const char *p) const
{
    for (;;) {
        p = skipSpace(p, m_end);
        if (m_end - p < 2 || p[0] != '<' || (p[1] != '!' && p[1] != '?'))
            return p;
        if (p[1] == '?')
            p = skipProcessingInstruction(p, m_end);
        else if (startsWith(p, m_end, "<!--"))
            p = skipComment(p, m_end);
        else
            return p;
        if (!p)
            return nullptr;
    }
}

const char *XmlPropertyListReader::openRootDictionary(const char *p)
{
    if (!(p = skipMisc(p)))
        return nullptr;
    const StartTag tag = readStartTag(p);
    return tag.element == Element::Dictionary ? openContainer(tag) : nullptr;
}

// Reads until every open container is closed.
// Reads until every open container is closed. The loop that runs once per element: the common cases are
// written out here and the rare ones (comments, CDATA, attributes) are calls.
const char *XmlPropertyListReader::readNested(const char *p)
{
    while (!m_open.empty()) {
        awaitBytes(p);
        if (!(p = retryOnWholeFile(p, [this](const char *q) { return readNestedStep(q); })))
            return nullptr;
    }
    m_doc.root = quint32(m_doc.nodes.size());
    m_doc.nodes.push_back(m_pending.front());
    return p;
}

inline const char *XmlPropertyListReader::readNestedStep(const char *p)
{
    p = skipSpace(p, m_end);
    if (m_end - p < 2 || *p != '<')
        return nullptr;
    if (p[1] == '/')
        return closeContainer(p);
    if (p[1] == '!' || p[1] == '?') {
        const char *next = skipMisc(p);
        return next == p ? nullptr : next; // a DOCTYPE or CDATA between elements
    }
    return readChild(p);
}

inline const char *XmlPropertyListReader::readChild(const char *p)
{
    StartTag tag;
    const char *q = p + 1;
    tag.element = readElementName(q);
    if (tag.element == Element::Unknown || tag.element == Element::Plist)
        return nullptr;
    tag.next = *q == '>' ? q + 1 : readAttributes(q, tag.empty);
    if (!tag.next)
        return nullptr;
    const OpenContainer &parent = m_open.back();
    const bool keyExpected =
        parent.element == Element::Dictionary && (m_pending.size() - parent.pendingIndex - 1) % 2 == 0;
    if (keyExpected != (tag.element == Element::Key))
        return nullptr;
    if (tag.element == Element::Dictionary || tag.element == Element::Array)
        return openContainer(tag);
    return readLeaf(tag);
}

const char *XmlPropertyListReader::openContainer(const StartTag &tag)
{
    if (m_open.size() >= size_t(kMaxPlistNestingDepth))
        return nullptr;
    PlistNode node;
    node.kind = kindOf(tag.element);
    m_pending.push_back(node);
    if (!tag.empty)
        m_open.push_back({quint32(m_pending.size() - 1), tag.element});
    return tag.next;
}

const char *XmlPropertyListReader::closeContainer(const char *p)
{
    const OpenContainer container = m_open.back();
    if (!(p = readEndTag(p, container.element)))
        return nullptr;
    const auto firstChild = m_pending.begin() + container.pendingIndex + 1;
    const auto childCount = quint32(m_pending.end() - firstChild);
    if (container.element == Element::Dictionary && childCount % 2 != 0)
        return nullptr; // a key without a value
    PlistNode &node = m_pending[container.pendingIndex];
    node.a = quint32(m_doc.nodes.size());
    node.b = childCount;
    m_doc.nodes.insert(m_doc.nodes.end(), firstChild, m_pending.end());
    m_pending.erase(firstChild, m_pending.end());
    m_open.pop_back();
    return p;
}

inline const char *XmlPropertyListReader::readLeaf(const StartTag &tag)
{
    const char *content = tag.next;
    const char *contentEnd = content;
    const char *p = content;
    quint8 flags = 0;
    if (!tag.empty) {
        // Usually plain text and the end tag; anything else goes the long way.
        p = scanCharData(content, m_end, flags);
        if (!p)
            return nullptr;
        contentEnd = p;
        p = m_end - p >= 2 && p[1] == '/' ? readEndTag(p, tag.element)
                                          : readMixedContent(p, tag.element, contentEnd, flags);
        if (!p)
            return nullptr;
    }
    PlistNode node;
    node.kind = kindOf(tag.element);
    node.flags = flags;
    node.a = quint32(content - m_begin);
    node.b = quint32(contentEnd - content);
    if (node.kind == PlistNode::Key)
        node.keyHint = PlistNode::hintOf(content, node.b);
    else if (node.kind != PlistNode::String && !finishScalar(node, QByteArrayView(content, contentEnd)))
        return nullptr;
    m_pending.push_back(node);
    return p;
}

// Reads CDATA, comments, processing instructions and text from p (a '<' that does not start the end tag) up to
// the element's end tag; returns what follows it.
const char *XmlPropertyListReader::readMixedContent(const char *p, Element element, const char *&contentEnd,
                                                    quint8 &flags) const
{
    flags |= PlistNode::NeedsDecoding;
    for (;;) {
        if (startsWith(p, m_end, "<![CDATA["))
            p = skipDelimited(p, m_end, "<![CDATA[", "]]>");
        else if (startsWith(p, m_end, "<!--"))
            p = skipComment(p, m_end);
        else if (startsWith(p, m_end, "<?"))
            p = skipProcessingInstruction(p, m_end);
        else
            return nullptr; // an element inside a scalar
        if (!p || !(p = scanCharData(p, m_end, flags)))
            return nullptr;
        if (m_end - p >= 2 && p[1] == '/') {
            contentEnd = p;
            return readEndTag(p, element);
        }
    }
}

// Checks a scalar's text and, for numbers, replaces the span with the value.
bool XmlPropertyListReader::finishScalar(PlistNode &node, QByteArrayView raw)
{
    if (node.flags & PlistNode::NeedsDecoding) {
        const QByteArray decoded = decodeText(raw);
        return finishScalarText(node, trimmed(decoded));
    }
    return finishScalarText(node, trimmed(raw));
}

bool XmlPropertyListReader::finishScalarText(PlistNode &node, std::string_view text)
{
    switch (node.kind) {
    case PlistNode::Integer:
        if (const std::optional<qint64> value = parseInteger(text)) {
            node.setInlineBits(quint64(*value));
            return true;
        }
        return false;
    case PlistNode::Real:
        if (const std::optional<double> value = parseReal(text)) {
            node.setInlineBits(std::bit_cast<quint64>(*value));
            return true;
        }
        return false;
    case PlistNode::True:
    case PlistNode::False:
        return text.empty();
    case PlistNode::Date:
        return !text.empty() && kDateBytes.containsAll(text);
    case PlistNode::Data:
        return kBase64Bytes.containsAll(text);
    default:
        return false;
    }
}

XmlPropertyListReader::StartTag XmlPropertyListReader::readStartTag(const char *p) const
{
    StartTag tag;
    if (m_end - p < 2 || *p != '<')
        return tag;
    const char *q = p + 1;
    tag.element = readElementName(q);
    if (tag.element == Element::Unknown)
        return tag;
    if (*q == '>')
        tag.next = q + 1;
    else
        tag.next = readAttributes(q, tag.empty);
    return tag;
}

inline const char *XmlPropertyListReader::readEndTag(const char *p, Element element) const
{
    const ElementName &name = kElementNames[size_t(element)];
    if (m_end - p < qsizetype(name.text.size()) + 3 || p[0] != '<' || p[1] != '/'
        || (loadWord(p + 2, m_end) & name.mask) != name.word)
        return nullptr;
    p += 2 + name.text.size();
    if (*p == '>')
        return p + 1;
    p = skipSpace(p, m_end);
    return p < m_end && *p == '>' ? p + 1 : nullptr;
}

// Reads `name="value"` pairs up to the end of a start tag; the values are checked but not kept.
const char *XmlPropertyListReader::readAttributes(const char *p, bool &empty) const
{
    const auto isNameChar = [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == ':'
            || c == '-' || c == '.';
    };
    for (;;) {
        const char *q = skipSpace(p, m_end);
        if (q == m_end)
            return nullptr;
        if (*q == '>' || (*q == '/' && q + 1 < m_end && q[1] == '>')) {
            empty = *q == '/';
            return q + (empty ? 2 : 1);
        }
        if (q == p || !isNameChar(*q) || (*q >= '0' && *q <= '9') || *q == '-' || *q == '.')
            return nullptr; // attributes need whitespace before them and a name
        while (q < m_end && isNameChar(*q))
            ++q;
        q = skipSpace(q, m_end);
        if (q == m_end || *q != '=')
            return nullptr;
        q = skipSpace(q + 1, m_end);
        if (q == m_end || (*q != '"' && *q != '\''))
            return nullptr;
        const auto *quote = static_cast<const char *>(std::memchr(q + 1, *q, size_t(m_end - q - 1)));
        if (!quote)
            return nullptr;
        if (!isAttributeValue(q + 1, quote))
            return nullptr;
        p = quote + 1;
    }
}

// Recognises the element name at p and moves p past it; the name must be followed by a byte that ends it.
inline XmlPropertyListReader::Element XmlPropertyListReader::readElementName(const char *&p) const
{
    const quint64 word = loadWord(p, m_end);
    const auto is = [&](Element element) {
        const ElementName &name = kElementNames[size_t(element)];
        const char *after = p + name.text.size();
        if ((word & name.mask) != name.word || after >= m_end || !isNameEnd(*after))
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

inline PlistNode::Kind XmlPropertyListReader::kindOf(Element element)
{
    static_assert(std::size(kElementNames) == size_t(Element::Data) + 1);
    static_assert(kElementNames[size_t(Element::Key)].text == "key" && kElementNames[size_t(Element::Data)].text == "data");
    return kElementNames[size_t(element)].kind;
}

QByteArray XmlPropertyListReader::decodeText(QByteArrayView raw)
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
                break; // cannot happen for text that read() accepted
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
