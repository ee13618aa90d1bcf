// SPDX-License-Identifier: GPL-3.0-or-later
#include "XmlSecondHalf.h"

#include <algorithm>
#include <string_view>

using namespace XmlText;

XmlSecondHalf::XmlSecondHalf(PropertyListDocument &doc, qsizetype from, std::optional<qsizetype> handOverAt)
    : m_doc(doc)
    , m_handOverAt(handOverAt)
    , m_startFuture(m_start.get_future())
    , m_thread([this, from] { run(from); })
{
}

XmlSecondHalf::~XmlSecondHalf()
{
    m_wish = Wish::Stop;
    m_thread.join();
}

const char *XmlSecondHalf::handOver()
{
    m_wish = Wish::HandOver;
    m_thread.join();
    return m_end;
}

void XmlSecondHalf::run(qsizetype from)
{
    ReadAhead bytes(m_doc.bytes, m_doc.size, m_doc.arriving);
    const char *fromByte = m_doc.bytes + std::clamp<qsizetype>(from, 0, m_doc.size);
    bytes.awaitAhead(fromByte);
    const char *start = findStart(fromByte, bytes.end());
    m_start.set_value(start);
    if (!start)
        return;
    try {
        m_grammar = std::make_unique<XmlGrammar>(m_doc, start);
        m_end = read(start);
    } catch (...) {
        m_end = nullptr; // the first half's reader reads on alone, and meets the same trouble
    }
}

// The first key from `from` on whose value is a dictionary, as a track's is in the dictionary of all tracks: an
// entry of the dictionary that holds most of a library. Returns where the white space before it begins, since that
// is where the reading of the first half arrives, and it looks for this start once it is past `from`.
const char *XmlSecondHalf::findStart(const char *from, const char *end) const
{
    static constexpr std::string_view keyTag = "<key>";
    for (const char *key = from; (key = std::search(key, end, keyTag.begin(), keyTag.end())) != end; ++key) {
        const char *keyEnd = std::find(key + keyTag.size(), end, '<');
        if (!startsWith(keyEnd, end, "</key>"))
            continue;
        const char *value = skipSpace(keyEnd + 6, end);
        if (!startsWith(value, end, "<dict>"))
            continue;
        const char *start = key;
        while (start > m_doc.bytes && isSpace(start[-1]))
            --start;
        if (start >= from)
            return start;
    }
    return nullptr;
}

bool XmlSecondHalf::shouldStop(const char *p) const
{
    const Wish wanted = m_wish.load(std::memory_order_relaxed);
    if (wanted == Wish::Stop)
        return true;
    if (m_handOverAt)
        return p - m_doc.bytes >= *m_handOverAt;
    return wanted == Wish::HandOver;
}

const char *XmlSecondHalf::read(const char *p)
{
    ReadAhead &bytes = m_grammar->bytes();
    PlistTreeBuilder &tree = m_grammar->tree();
    const auto nextTag = [&bytes](const char *q) {
        q = skipSpace(q, bytes.end());
        return bytes.end() - q >= 2 ? q : nullptr;
    };
    const auto dictionaryEnd = [&bytes](const char *q) { return readEndTag(q, bytes.end(), Element::Dictionary); };
    // What was read after the dictionary may belong to no dictionary at all: what came before still counts.
    const auto failed = [this, &tree] {
        if (!tree.hasLeftStandIn())
            return static_cast<const char *>(nullptr);
        tree.forgetAfterStandIn();
        return m_standInEnd;
    };
    for (;;) {
        if (shouldStop(p))
            return m_wish == Wish::Stop ? nullptr : p;
        bytes.awaitAhead(p);
        if (tree.depth() == 1) {
            const char *tag = bytes.retryOnWholeFile(p, nextTag);
            if (!tag)
                return failed();
            if (tag[0] == '<' && tag[1] == '/') {
                if (tree.hasLeftStandIn())
                    return p;
                const char *after = bytes.retryOnWholeFile(tag, dictionaryEnd);
                if (!after || !tree.leaveStandIn())
                    return p; // the first half's reader meets this itself
                m_standInEnd = p = after;
                continue;
            }
        }
        if (!(p = bytes.retryOnWholeFile(p, [this](const char *q) { return m_grammar->readStep(q); })))
            return failed();
    }
}
