// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "PropertyListDocument.h"

#include <optional>
#include <vector>

// Reads a "bplist00" binary property list into the same node arena as the XML reader. Objects referenced from
// several places are read once and share their children; strings are decoded into doc.sideStrings.
class BinaryPropertyListReader
{
public:
    // Fills doc.nodes, doc.sideStrings and doc.root; false unless every offset, count and reference is
    // consistent, nothing refers back to itself, and the top object is a dictionary.
    static bool read(PropertyListDocument &doc);

private:
    enum class State : quint8 { Unread, Reading, Read };

    explicit BinaryPropertyListReader(PropertyListDocument &doc);

    bool readTrailer();
    std::optional<PlistNode> readObject(quint64 ref, int depth);
    std::optional<PlistNode> readScalar(quint64 offset, quint8 marker);
    std::optional<PlistNode> readContainer(quint64 offset, quint8 marker, int depth);
    std::optional<PlistNode> readString(quint64 offset, quint8 marker);
    std::optional<quint64> readCount(quint64 &offset, quint8 marker, quint64 unitBytes) const;
    std::optional<quint64> objectOffset(quint64 ref) const;
    quint64 readUnsigned(quint64 offset, int width) const;

    PropertyListDocument &m_doc;
    const uchar *const m_bytes;
    const quint64 m_size;
    quint64 m_objectsEnd = 0; // objects lie in [header, trailer)
    int m_offsetWidth = 0;
    int m_refWidth = 0;
    quint64 m_objectCount = 0;
    quint64 m_topObject = 0;
    quint64 m_offsetTable = 0;
    std::vector<State> m_state;
    std::vector<PlistNode> m_read;    // per object, once its state is Read
    std::vector<PlistNode> m_pending; // children of the containers being read
};
