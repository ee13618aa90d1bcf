// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Internal to the property-list reader: the parsed form that PlistValue handles point into.

#include "ArrivingBytes.h"
#include "HugePages.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <atomic>
#include <vector>

// Nothing real nests deeper than a handful of levels (an iTunes library uses four); the bound keeps a hostile
// file from exhausting the parse stack.
inline constexpr int kMaxPlistNestingDepth = 512;

// Offsets and lengths are kept in 32 bits to keep nodes at 12 bytes; a 100,000-track library is about 167 MB,
// so 1 GiB leaves room for six times that.
inline constexpr qint64 kMaxPlistFileBytes = qint64(1) << 30;

// One value, 12 bytes, so the ~6 million values of a 100,000-track library stay small. The children of a
// container are contiguous in the arena; a dictionary's are key, value, key, value, ...
struct PlistNode
{
    enum Kind : quint8 { Dictionary, Array, String, Key, Integer, Real, True, False, Date, Data };
    enum Flag : quint8 {
        NeedsDecoding = 1, // the raw XML span holds references, CDATA, comments or CRs
        SideString = 2,    // `a` indexes PropertyListDocument::sideStrings (binary lists)
    };

    // String, Key, Data and XML Date: where the raw text starts (or the side-string index) and its length.
    // Container: the first child and the number of child nodes. Integer, Real and binary Date: the value's bits.
    quint32 a = 0;
    quint32 b = 0;
    Kind kind = Dictionary;
    quint8 flags = 0;
    // Key: two of its bytes, so that a lookup rarely has to compare the text itself (which is a cache miss).
    quint16 keyHint = 0;

    static quint16 hintOf(const char *key, qsizetype length)
    {
        return length == 0 ? 0 : quint16(uchar(key[length - 1]) << 8 | uchar(key[length / 2]));
    }

    quint64 inlineBits() const { return quint64(b) << 32 | a; }
    void setInlineBits(quint64 bits)
    {
        a = quint32(bits);
        b = quint32(bits >> 32);
    }
};
static_assert(sizeof(PlistNode) == 12);

class PropertyListDocument
{
public:
    // The bytes: a regular file's in `fileBytes`, otherwise in `arrayBytes`.
    std::vector<char, HugePageAllocator<char>> fileBytes;
    QByteArray arrayBytes;
    const char *bytes = nullptr;
    qsizetype size = 0;

    // Set while a regular file is still being read into `fileBytes`; `size` is then the size it is expected to have.
    const ArrivingBytes *arriving = nullptr;
    // When set and it turns true, the XML parse gives up at the next container it closes, as though malformed.
    const std::atomic<bool> *stop = nullptr;

    // The nodes. A large XML document is read in two halves at once, and the values of the second half stay in
    // an arena of their own: a node's index from kLaterNodes on is one of those.
    static constexpr quint32 kLaterNodes = quint32(1) << 31;
    std::vector<PlistNode, HugePageAllocator<PlistNode>> nodes;
    std::vector<PlistNode, HugePageAllocator<PlistNode>> laterNodes;
    std::vector<QString> sideStrings;
    quint32 root = 0;

    const PlistNode &node(quint32 index) const
    {
        return index < kLaterNodes ? nodes[index] : laterNodes[index - kLaterNodes];
    }
    QByteArrayView rawText(const PlistNode &node) const { return QByteArrayView(bytes + node.a, node.b); }
};
// Every value takes at least a byte of the file, so the first arena never reaches the second's indexes.
static_assert(kMaxPlistFileBytes < qint64(PropertyListDocument::kLaterNodes));
