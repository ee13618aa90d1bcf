// SPDX-License-Identifier: GPL-3.0-or-later
#include "DictionaryScan.h"

#include "HugePages.h"
#include "PropertyListDocument.h"

#include <algorithm>

namespace {

// Far enough ahead that an entry's text has arrived from memory by the time its keys are looked up; the nodes that
// say where that text lies are asked for twice as far ahead, so that asking for the text does not wait.
constexpr qsizetype kPrefetchDistance = 4;
// A track of an iTunes library spans a kilobyte or two of its file; a dictionary that spans far more holds large
// values, which are not what lookups read.
constexpr quint32 kMostPrefetchedBytes = 4096;
constexpr quint32 kCacheLine = 64;
// About a huge page of a library's text.
constexpr qsizetype kEntriesPerGiveBack = 1024;

} // namespace

DictionaryScan::DictionaryScan(const PlistValue &dictionary)
    : m_dictionary(dictionary.isDictionary() ? dictionary : PlistValue())
{
}

DictionaryScan::DictionaryScan(PropertyList &&list, QLatin1StringView key)
    : DictionaryScan(list.root().value(key))
{
    m_document = std::move(list.m_doc);
    // Only a large file's bytes lie in a block of huge pages of their own; another copy of the list still reads them.
    m_givesBack = m_document.use_count() == 1 && m_document->bytes == m_document->fileBytes.data()
                  && size_t(m_document->size) >= HugePages::worthwhileBytes;
}

void DictionaryScan::find(qsizetype i, qsizetype runEnd, const QLatin1StringView *keys, PlistValue *found,
                          qsizetype count) const
{
    const PropertyListDocument &doc = *m_dictionary.m_doc;
    const PlistNode &dictionary = m_dictionary.node();
    const auto entryValue = [&](qsizetype at) -> const PlistNode & {
        return doc.node(dictionary.a + quint32(2 * at + 1));
    };
    if (i + 2 * kPrefetchDistance < runEnd) {
        const PlistNode &ahead = entryValue(i + 2 * kPrefetchDistance);
        if (ahead.kind == PlistNode::Dictionary && ahead.b > 0) {
            __builtin_prefetch(&doc.node(ahead.a));
            __builtin_prefetch(&doc.node(ahead.a + ahead.b - 2));
        }
    }
    if (i + kPrefetchDistance < runEnd) {
        const PlistNode &ahead = entryValue(i + kPrefetchDistance);
        if (ahead.kind == PlistNode::Dictionary && ahead.b > 0) {
            const PlistNode &firstKey = doc.node(ahead.a);
            const PlistNode &lastKey = doc.node(ahead.a + ahead.b - 2);
            if (!((firstKey.flags | lastKey.flags) & PlistNode::SideString)) {
                const quint64 begin = firstKey.a;
                const quint64 end = std::min<quint64>(
                    {quint64(lastKey.a) + lastKey.b, begin + kMostPrefetchedBytes, quint64(doc.size)});
                for (quint64 at = begin; at < end; at += kCacheLine)
                    __builtin_prefetch(doc.bytes + at);
            }
        }
    }
    m_dictionary.valueAt(i).findValues(keys, found, count);
}

void DictionaryScan::readUpTo(qsizetype runBegin, qsizetype next)
{
    // All the entries of the run read so far each time: only whole pages go, and the one the last end fell in is
    // whole now. Another thread's run never shares a whole page with this one.
    const qsizetype read = next - runBegin;
    if (!m_givesBack || read <= 0 || read % kEntriesPerGiveBack != 0)
        return;
    // The entries' text runs from the first one's key to the key after the last: the last entry keeps its text.
    const qsizetype end = std::min(next, count() - 1);
    if (runBegin >= end)
        return;
    const PropertyListDocument &doc = *m_document;
    const PlistNode &dictionary = m_dictionary.node();
    const PlistNode &first = doc.node(dictionary.a + quint32(2 * runBegin));
    const PlistNode &after = doc.node(dictionary.a + quint32(2 * end));
    if ((first.flags | after.flags) & PlistNode::SideString)
        return;
    // The scan holds the only reference to a document it was given to use up, which was made writable.
    HugePages::discard(const_cast<char *>(doc.bytes) + first.a, after.a - first.a);
}

QByteArrayView DictionaryScan::utf8(const PlistValue &string, QByteArray &decoded)
{
    if (!string.isString())
        return {};
    const PlistNode &n = string.node();
    if (n.flags & (PlistNode::NeedsDecoding | PlistNode::SideString)) {
        decoded = string.toUtf8();
        return decoded;
    }
    return string.m_doc->rawText(n);
}
