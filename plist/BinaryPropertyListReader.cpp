// SPDX-License-Identifier: GPL-3.0-or-later
#include "BinaryPropertyListReader.h"

#include <QtEndian>

#include <bit>
#include <cstring>

namespace {

constexpr quint64 kHeaderBytes = 8; // "bplist00"
constexpr quint64 kTrailerBytes = 32;
// Binary lists here are preferences of a few kilobytes. The bookkeeping takes up to 13 bytes per object, and a
// hostile file can declare an object per byte, so larger files are refused rather than trusted.
constexpr quint64 kMaxBinaryBytes = quint64(4) << 20;

// Marker byte: object type in the high nibble, a size or count in the low one.
enum Marker : quint8 {
    kSingleton = 0x0,
    kInteger = 0x1,
    kReal = 0x2,
    kDate = 0x3,
    kData = 0x4,
    kAsciiString = 0x5,
    kUtf16String = 0x6,
    kUid = 0x8,
    kArray = 0xA,
    kDictionary = 0xD,
};
constexpr quint8 kFalse = 0x08;
constexpr quint8 kTrue = 0x09;
constexpr quint8 kCountFollows = 0xF; // the count is an integer object right after the marker

bool isValidWidth(int width)
{
    return width == 1 || width == 2 || width == 4 || width == 8;
}

} // namespace

bool BinaryPropertyListReader::read(PropertyListDocument &doc)
{
    BinaryPropertyListReader reader(doc);
    if (!reader.readTrailer())
        return false;
    const std::optional<PlistNode> top = reader.readObject(reader.m_topObject, 0);
    if (!top || top->kind != PlistNode::Dictionary)
        return false;
    doc.root = quint32(doc.nodes.size());
    doc.nodes.push_back(*top);
    return true;
}

BinaryPropertyListReader::BinaryPropertyListReader(PropertyListDocument &doc)
    : m_doc(doc)
    , m_bytes(reinterpret_cast<const uchar *>(doc.bytes))
    , m_size(quint64(doc.size))
{
}

bool BinaryPropertyListReader::readTrailer()
{
    if (m_size < kHeaderBytes + 1 + kTrailerBytes || m_size > kMaxBinaryBytes
        || std::memcmp(m_bytes, "bplist00", kHeaderBytes) != 0)
        return false;
    m_objectsEnd = m_size - kTrailerBytes;
    const quint64 trailer = m_objectsEnd;
    m_offsetWidth = m_bytes[trailer + 6];
    m_refWidth = m_bytes[trailer + 7];
    m_objectCount = readUnsigned(trailer + 8, 8);
    m_topObject = readUnsigned(trailer + 16, 8);
    m_offsetTable = readUnsigned(trailer + 24, 8);
    if (!isValidWidth(m_offsetWidth) || !isValidWidth(m_refWidth) || m_objectCount == 0
        || m_topObject >= m_objectCount || m_offsetTable < kHeaderBytes || m_offsetTable > m_objectsEnd
        || m_objectCount > (m_objectsEnd - m_offsetTable) / quint64(m_offsetWidth))
        return false;
    m_state.assign(m_objectCount, State::Unread);
    m_read.resize(m_objectCount);
    return true;
}

std::optional<PlistNode> BinaryPropertyListReader::readObject(quint64 ref, int depth)
{
    if (ref >= m_objectCount)
        return std::nullopt;
    if (m_state[ref] == State::Read)
        return m_read[ref];
    if (m_state[ref] == State::Reading)
        return std::nullopt; // a container that contains itself
    const std::optional<quint64> offset = objectOffset(ref);
    if (!offset)
        return std::nullopt;
    const quint8 marker = m_bytes[*offset];
    std::optional<PlistNode> node;
    switch (marker >> 4) {
    case kArray:
    case kDictionary:
        if (depth >= kMaxPlistNestingDepth)
            return std::nullopt;
        m_state[ref] = State::Reading;
        node = readContainer(*offset + 1, marker, depth);
        break;
    case kAsciiString:
    case kUtf16String:
        node = readString(*offset + 1, marker);
        break;
    default:
        node = readScalar(*offset + 1, marker);
        break;
    }
    if (!node)
        return std::nullopt;
    m_state[ref] = State::Read;
    m_read[ref] = *node;
    return node;
}

std::optional<PlistNode> BinaryPropertyListReader::readScalar(quint64 offset, quint8 marker)
{
    const int info = marker & 0xF;
    PlistNode node;
    const auto fits = [&](quint64 bytes) { return bytes <= m_objectsEnd - offset; };
    switch (marker >> 4) {
    case kSingleton:
        if (marker != kFalse && marker != kTrue)
            return std::nullopt; // null and fill are not values
        node.kind = marker == kTrue ? PlistNode::True : PlistNode::False;
        return node;
    case kInteger:
    case kUid: {
        const quint64 width = (marker >> 4) == kInteger ? quint64(1) << std::min(info, 5) : quint64(info) + 1;
        if (width > 16 || !fits(width))
            return std::nullopt;
        // Wider than 8 bytes: the low 8 bytes, which hold every value a qint64 can.
        const quint64 low = width > 8 ? width - 8 : 0;
        node.kind = PlistNode::Integer;
        node.setInlineBits(readUnsigned(offset + low, int(width - low)));
        return node;
    }
    case kReal:
    case kDate: {
        const bool isDouble = info == 3;
        if ((info != 2 && !isDouble) || ((marker >> 4) == kDate && !isDouble) || !fits(isDouble ? 8 : 4))
            return std::nullopt;
        const double value = isDouble ? std::bit_cast<double>(readUnsigned(offset, 8))
                                      : double(std::bit_cast<float>(quint32(readUnsigned(offset, 4))));
        node.kind = (marker >> 4) == kDate ? PlistNode::Date : PlistNode::Real;
        node.setInlineBits(std::bit_cast<quint64>(value));
        return node;
    }
    case kData: {
        const std::optional<quint64> length = readCount(offset, marker, 1);
        if (!length)
            return std::nullopt;
        node.kind = PlistNode::Data;
        node.a = quint32(offset);
        node.b = quint32(*length);
        return node;
    }
    default:
        return std::nullopt; // sets and unknown types
    }
}

std::optional<PlistNode> BinaryPropertyListReader::readString(quint64 offset, quint8 marker)
{
    const bool utf16 = (marker >> 4) == kUtf16String;
    const std::optional<quint64> length = readCount(offset, marker, utf16 ? 2 : 1);
    if (!length)
        return std::nullopt;
    const auto *text = m_bytes + offset;
    QString string;
    if (utf16) {
        string.resize(qsizetype(*length));
        qFromBigEndian<char16_t>(text, qsizetype(*length), string.data());
    } else {
        string = QString::fromLatin1(reinterpret_cast<const char *>(text), qsizetype(*length));
    }
    PlistNode node;
    node.kind = PlistNode::String;
    node.flags = PlistNode::SideString;
    node.a = quint32(m_doc.sideStrings.size());
    m_doc.sideStrings.push_back(std::move(string));
    return node;
}

std::optional<PlistNode> BinaryPropertyListReader::readContainer(quint64 offset, quint8 marker, int depth)
{
    const bool dictionary = (marker >> 4) == kDictionary;
    const quint64 refsPerEntry = dictionary ? 2 : 1;
    const std::optional<quint64> count = readCount(offset, marker, refsPerEntry * quint64(m_refWidth));
    if (!count)
        return std::nullopt;
    const size_t firstPending = m_pending.size();
    for (quint64 i = 0; i < *count; ++i) {
        for (quint64 part = 0; part < refsPerEntry; ++part) {
            // A dictionary lists all its keys, then all its values.
            const quint64 ref = readUnsigned(offset + (part * *count + i) * quint64(m_refWidth), m_refWidth);
            std::optional<PlistNode> child = readObject(ref, depth + 1);
            if (!child)
                return std::nullopt;
            if (dictionary && part == 0) {
                if (child->kind != PlistNode::String)
                    return std::nullopt;
                child->kind = PlistNode::Key;
            }
            m_pending.push_back(*child);
        }
    }
    PlistNode node;
    node.kind = dictionary ? PlistNode::Dictionary : PlistNode::Array;
    node.a = quint32(m_doc.nodes.size());
    node.b = quint32(m_pending.size() - firstPending);
    m_doc.nodes.insert(m_doc.nodes.end(), m_pending.begin() + qsizetype(firstPending), m_pending.end());
    m_pending.resize(firstPending);
    return node;
}

// The count in a marker (or the integer after it), checked so that count * unitBytes fits before the trailer;
// moves offset past it to the contents.
std::optional<quint64> BinaryPropertyListReader::readCount(quint64 &offset, quint8 marker, quint64 unitBytes) const
{
    quint64 count = marker & 0xF;
    if (count == kCountFollows) {
        if (offset >= m_objectsEnd)
            return std::nullopt;
        const quint8 intMarker = m_bytes[offset];
        const int width = 1 << (intMarker & 0xF);
        if ((intMarker >> 4) != kInteger || width > 8 || quint64(width) >= m_objectsEnd - offset)
            return std::nullopt;
        count = readUnsigned(offset + 1, width);
        offset += 1 + quint64(width);
    }
    if (offset > m_objectsEnd || count > (m_objectsEnd - offset) / unitBytes)
        return std::nullopt;
    return count;
}

std::optional<quint64> BinaryPropertyListReader::objectOffset(quint64 ref) const
{
    const quint64 offset = readUnsigned(m_offsetTable + ref * quint64(m_offsetWidth), m_offsetWidth);
    if (offset < kHeaderBytes || offset >= m_objectsEnd)
        return std::nullopt;
    return offset;
}

quint64 BinaryPropertyListReader::readUnsigned(quint64 offset, int width) const
{
    quint64 value = 0;
    for (int i = 0; i < width; ++i)
        value = value << 8 | m_bytes[offset + quint64(i)];
    return value;
}
