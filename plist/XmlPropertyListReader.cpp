// SPDX-License-Identifier: GPL-3.0-or-later
#include "XmlPropertyListReader.h"

#include "XmlSecondHalf.h"

bool XmlPropertyListReader::read(PropertyListDocument &doc, const std::optional<Halves> &halves)
{
    return XmlPropertyListReader(doc).readDocument(halves);
}

XmlPropertyListReader::XmlPropertyListReader(PropertyListDocument &doc)
    : m_doc(doc)
    , m_grammar(doc)
{
}

XmlPropertyListReader::~XmlPropertyListReader() = default;

bool XmlPropertyListReader::readDocument(const std::optional<Halves> &halves)
{
    if (m_doc.size > kMaxPlistFileBytes)
        return false;
    if (halves) {
        m_secondHalf = std::make_unique<XmlSecondHalf>(m_doc, halves->from, halves->handOverAt);
        m_secondHalfAt = halves->from;
    }
    ReadAhead &bytes = m_grammar.bytes();
    bytes.awaitAhead(bytes.begin());
    const char *p = bytes.retryOnWholeFile(bytes.begin(), [this](const char *q) { return m_grammar.readUpToRoot(q); });
    if (!p || !(p = bytes.retryOnWholeFile(p, [this](const char *q) { return m_grammar.openRootDictionary(q); }))
        || !(p = readNested(p)))
        return false;
    if (m_secondHalf) // the document ended before the second half's start
        dropSecondHalf();
    bytes.awaitWholeFile();
    m_doc.size = bytes.end() - bytes.begin();
    return m_grammar.readAfterRoot(p) != nullptr;
}

const char *XmlPropertyListReader::readNested(const char *p)
{
    PlistTreeBuilder &tree = m_grammar.tree();
    while (tree.hasOpen()) {
        if (!(p = m_grammar.readNested(p, m_secondHalfAt)))
            return nullptr;
        if (tree.hasOpen())
            p = meetSecondHalf(p); // what it takes over may close the last container
    }
    tree.finish();
    return p;
}

// At the second half's `from`: learns where that half starts. There: takes its values over when this reading is at
// the same place in the same state, and goes on from where it stopped. Past it: drops them.
const char *XmlPropertyListReader::meetSecondHalf(const char *p)
{
    const char *start = m_secondHalf->start();
    const char *begin = m_grammar.bytes().begin();
    if (start && p < start) {
        m_secondHalfAt = start - begin;
        return p;
    }
    m_secondHalfAt = std::numeric_limits<qsizetype>::max();
    PlistTreeBuilder &tree = m_grammar.tree();
    if (p == start && tree.expectsKey()) {
        const char *end = m_secondHalf->handOver();
        if (end && tree.depth() + m_secondHalf->tree().deepest() - 1 <= kMaxPlistNestingDepth) {
            if (!tree.adopt(m_secondHalf->tree()))
                end = m_secondHalf->afterStandIn();
            m_secondHalf.reset();
            return end;
        }
    }
    dropSecondHalf();
    return p;
}

void XmlPropertyListReader::dropSecondHalf()
{
    m_secondHalf.reset();
    m_doc.laterNodes = {};
}
