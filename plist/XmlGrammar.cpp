// SPDX-License-Identifier: GPL-3.0-or-later
#include "XmlGrammar.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <optional>
#include <string_view>

using namespace XmlText;

namespace {

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

bool finishScalarText(PlistNode &node, std::string_view text)
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


// Checks a scalar's text and, for numbers, replaces the span with the value.
bool finishScalar(PlistNode &node, QByteArrayView raw)
{
    if (node.flags & PlistNode::NeedsDecoding) {
        const QByteArray decoded = XmlText::decode(raw);
        return finishScalarText(node, XmlText::trimmed(decoded));
    }
    return finishScalarText(node, XmlText::trimmed(raw));
}

} // namespace

XmlGrammar::XmlGrammar(PropertyListDocument &doc)
    : m_bytes(doc.bytes, doc.size, doc.arriving)
    , m_tree(doc)
    , m_stop(doc.stop)
{
}

XmlGrammar::XmlGrammar(PropertyListDocument &doc, const char *start)
    : m_bytes(doc.bytes, doc.size, doc.arriving)
    , m_tree(doc, start - doc.bytes)
    , m_stop(doc.stop)
{
}

const char *XmlGrammar::readNested(const char *p, qsizetype pauseAt)
{
    while (m_tree.hasOpen() && p - m_bytes.begin() < pauseAt) {
        m_bytes.awaitAhead(p);
        if (!(p = m_bytes.retryOnWholeFile(p, [this](const char *q) { return readStep(q); })))
            return nullptr;
    }
    return p;
}

const char *XmlGrammar::readAfterRoot(const char *p) const
{
    if (!(p = skipMisc(p)) || !(p = readEndTag(p, m_bytes.end(), Element::Plist)) || !(p = skipMisc(p)))
        return nullptr;
    return p == m_bytes.end() ? p : nullptr;
}

const char *XmlGrammar::readUpToRoot(const char *p) const
{
    const char *end = m_bytes.end();
    if (startsWith(p, end, "\xEF\xBB\xBF"))
        p += 3;
    if (!(p = skipXmlDeclaration(p, end)) || !(p = readProlog(p)))
        return nullptr;
    const StartTag tag = readStartTag(p);
    return tag.element == Element::Plist && !tag.empty ? tag.next : nullptr;
}

const char *XmlGrammar::readProlog(const char *p) const
{
    bool seenDoctype = false;
    for (;;) {
        if (!(p = skipMisc(p)))
            return nullptr;
        if (!startsWith(p, m_bytes.end(), "<!DOCTYPE"))
            return p;
        if (seenDoctype || !(p = skipDoctype(p, m_bytes.end())))
            return nullptr;
        seenDoctype = true;
    }
}

// Skips whitespace, comments and processing instructions; returns the next other byte, or nullptr if one of
// those was malformed.
const char *XmlGrammar::skipMisc(const char *p) const
{
    const char *end = m_bytes.end();
    for (;;) {
        p = skipSpace(p, end);
        if (end - p < 2 || p[0] != '<' || (p[1] != '!' && p[1] != '?'))
            return p;
        if (p[1] == '?')
            p = skipProcessingInstruction(p, end);
        else if (startsWith(p, end, "<!--"))
            p = skipComment(p, end);
        else
            return p;
        if (!p)
            return nullptr;
    }
}

const char *XmlGrammar::openRootDictionary(const char *p)
{
    if (!(p = skipMisc(p)))
        return nullptr;
    const StartTag tag = readStartTag(p);
    return tag.element == Element::Dictionary ? openContainer(tag) : nullptr;
}

const char *XmlGrammar::readStep(const char *p)
{
    const char *end = m_bytes.end();
    p = skipSpace(p, end);
    if (end - p < 2 || *p != '<')
        return nullptr;
    if (p[1] == '/')
        return closeContainer(p);
    if (p[1] == '!' || p[1] == '?') {
        const char *next = skipMisc(p);
        return next == p ? nullptr : next; // a DOCTYPE or CDATA between elements
    }
    return readChild(p);
}

inline const char *XmlGrammar::readChild(const char *p)
{
    StartTag tag;
    const char *q = p + 1;
    tag.element = readElementName(q, m_bytes.end());
    if (tag.element == Element::Unknown || tag.element == Element::Plist)
        return nullptr;
    tag.next = *q == '>' ? q + 1 : readAttributes(q, m_bytes.end(), tag.empty);
    if (!tag.next)
        return nullptr;
    if (m_tree.expectsKey() != (tag.element == Element::Key))
        return nullptr;
    if (tag.element == Element::Dictionary || tag.element == Element::Array)
        return openContainer(tag);
    return readLeaf(tag);
}

const char *XmlGrammar::openContainer(const StartTag &tag)
{
    return m_tree.open(kindOf(tag.element), tag.empty) ? tag.next : nullptr;
}

const char *XmlGrammar::closeContainer(const char *p)
{
    // Once per container is often enough to stop a large library within a millisecond, and rare enough to cost nothing.
    if (m_stop && m_stop->load(std::memory_order_relaxed))
        return nullptr;
    const Element element = m_tree.openKind() == PlistNode::Dictionary ? Element::Dictionary : Element::Array;
    if (!(p = readEndTag(p, m_bytes.end(), element)) || !m_tree.close())
        return nullptr; // a wrong end tag, or a key without a value
    return p;
}

inline const char *XmlGrammar::readLeaf(const StartTag &tag)
{
    const char *end = m_bytes.end();
    const char *content = tag.next;
    const char *contentEnd = content;
    const char *p = content;
    quint8 flags = 0;
    if (!tag.empty) {
        // Usually plain text and the end tag; anything else goes the long way.
        p = scanCharData(content, end, flags);
        if (!p)
            return nullptr;
        contentEnd = p;
        p = end - p >= 2 && p[1] == '/' ? readEndTag(p, end, tag.element)
                                        : readMixedContent(p, tag.element, contentEnd, flags);
        if (!p)
            return nullptr;
    }
    PlistNode &node = m_tree.addLeaf();
    node.kind = kindOf(tag.element);
    node.flags = flags;
    node.a = quint32(content - m_bytes.begin());
    node.b = quint32(contentEnd - content);
    if (node.kind == PlistNode::Key) {
        node.keyHint = PlistNode::hintOf(content, node.b);
    } else if (node.kind != PlistNode::String && !finishScalar(node, QByteArrayView(content, contentEnd))) {
        m_tree.dropLeaf();
        return nullptr;
    }
    return p;
}

// Reads CDATA, comments, processing instructions and text from p (a '<' that does not start the end tag) up to
// the element's end tag; returns what follows it.
const char *XmlGrammar::readMixedContent(const char *p, Element element, const char *&contentEnd,
                                                    quint8 &flags) const
{
    const char *end = m_bytes.end();
    flags |= PlistNode::NeedsDecoding;
    for (;;) {
        if (startsWith(p, end, "<![CDATA["))
            p = skipDelimited(p, end, "<![CDATA[", "]]>");
        else if (startsWith(p, end, "<!--"))
            p = skipComment(p, end);
        else if (startsWith(p, end, "<?"))
            p = skipProcessingInstruction(p, end);
        else
            return nullptr; // an element inside a scalar
        if (!p || !(p = scanCharData(p, end, flags)))
            return nullptr;
        if (end - p >= 2 && p[1] == '/') {
            contentEnd = p;
            return readEndTag(p, end, element);
        }
    }
}

XmlGrammar::StartTag XmlGrammar::readStartTag(const char *p) const
{
    const char *end = m_bytes.end();
    StartTag tag;
    if (end - p < 2 || *p != '<')
        return tag;
    const char *q = p + 1;
    tag.element = readElementName(q, end);
    if (tag.element == Element::Unknown)
        return tag;
    if (*q == '>')
        tag.next = q + 1;
    else
        tag.next = readAttributes(q, end, tag.empty);
    return tag;
}
