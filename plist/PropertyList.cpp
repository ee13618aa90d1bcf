// SPDX-License-Identifier: GPL-3.0-or-later
#include "PropertyList.h"

#include "BackgroundFileRead.h"
#include "BinaryPropertyListReader.h"
#include "PropertyListDocument.h"
#include "Utf8Text.h"
#include "XmlPropertyListReader.h"
#include "XmlText.h"

#include <QFile>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>

namespace {

// A device that is not a regular file is read a piece at a time, so that a never-ending one stops at the size
// limit.
constexpr qint64 kReadChunkBytes = qint64(1) << 20;

bool isAsciiOnly(QLatin1StringView text)
{
    for (const char c : text) {
        if (uchar(c) >= 0x80)
            return false;
    }
    return true;
}

QString nodeText(const PropertyListDocument &doc, const PlistNode &node)
{
    if (node.flags & PlistNode::SideString)
        return doc.sideStrings[node.a];
    if (node.flags & PlistNode::NeedsDecoding)
        return textFromUtf8(XmlText::decode(doc.rawText(node)));
    return textFromUtf8(doc.rawText(node));
}

struct KeyProbe
{
    QLatin1StringView key;
    quint16 hint;
    bool ascii; // then raw UTF-8 bytes equal to the key's bytes mean equal text
};

bool keyEquals(const PropertyListDocument &doc, const PlistNode &keyNode, const KeyProbe &probe)
{
    if (probe.ascii && !(keyNode.flags & (PlistNode::NeedsDecoding | PlistNode::SideString))) {
        return keyNode.b == quint32(probe.key.size()) && keyNode.keyHint == probe.hint
            && std::memcmp(doc.bytes + keyNode.a, probe.key.data(), size_t(probe.key.size())) == 0;
    }
    return nodeText(doc, keyNode) == probe.key;
}

// Cocoa's integerValue of a string: optional leading whitespace and sign, then decimal digits up to the first
// other character; saturates instead of overflowing.
qint64 leadingInteger(QByteArrayView text)
{
    const char *p = text.begin();
    const char *end = text.end();
    while (p < end && (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r' || *p == '\v' || *p == '\f'))
        ++p;
    bool negative = false;
    if (p < end && (*p == '-' || *p == '+'))
        negative = *p++ == '-';
    const quint64 limit = negative ? quint64(1) << 63 : (quint64(1) << 63) - 1;
    quint64 magnitude = 0;
    for (; p < end && *p >= '0' && *p <= '9'; ++p) {
        const quint64 digit = quint64(*p - '0');
        magnitude = magnitude > (limit - digit) / 10 ? limit : magnitude * 10 + digit;
    }
    return negative ? qint64(0 - magnitude) : qint64(magnitude);
}

qint64 truncatedInteger(double value)
{
    if (std::isnan(value))
        return 0;
    constexpr double kTwoTo63 = 9223372036854775808.0;
    if (value >= kTwoTo63)
        return std::numeric_limits<qint64>::max();
    if (value <= -kTwoTo63)
        return std::numeric_limits<qint64>::min();
    return qint64(value);
}

// Appends up to `limit` bytes from the device; false if there were more or reading failed.
bool readCapped(QIODevice &device, qint64 limit, QByteArray &out)
{
    for (;;) {
        const qint64 room = std::min(kReadChunkBytes, limit + 1 - out.size());
        const qsizetype start = out.size();
        out.resize(start + room);
        const qint64 got = device.read(out.data() + start, room);
        if (got < 0)
            return false;
        out.resize(start + got);
        if (out.size() > limit)
            return false;
        if (got == 0)
            return true;
    }
}

} // namespace

const PlistNode &PlistValue::node() const
{
    return m_doc->node(m_index);
}

PlistValue::Type PlistValue::type() const
{
    if (!m_doc)
        return Type::Absent;
    switch (node().kind) {
    case PlistNode::Dictionary: return Type::Dictionary;
    case PlistNode::Array: return Type::Array;
    case PlistNode::String:
    case PlistNode::Key: return Type::String;
    case PlistNode::Integer: return Type::Integer;
    case PlistNode::Real: return Type::Real;
    case PlistNode::True:
    case PlistNode::False: return Type::Boolean;
    case PlistNode::Date: return Type::Date;
    case PlistNode::Data: return Type::Data;
    }
    return Type::Absent;
}

PlistValue PlistValue::value(QLatin1StringView key) const
{
    PlistValue found;
    findValues(&key, &found, 1);
    return found;
}

void PlistValue::findValues(const QLatin1StringView *keys, PlistValue *found, qsizetype count) const
{
    if (!isDictionary())
        return;
    // Callers ask for a few keys at most: value() for one, DictionaryScan for up to its maxKeys.
    constexpr qsizetype mostKeys = 16;
    Q_ASSERT(count <= mostKeys);
    KeyProbe probes[mostKeys];
    // The wanted keys a key spelt plainly in the file may equal, by its length (the longest share the last
    // slot): most keys of a dictionary have a length no wanted key has, and are passed over at once. A key with
    // references or CDATA in it, or a wanted key beyond ASCII, is compared as text.
    constexpr qsizetype lengthSlots = 32;
    quint16 byLength[lengthSlots] = {};
    quint16 asText = 0;
    for (qsizetype k = 0; k < count; ++k) {
        probes[k] = {keys[k], PlistNode::hintOf(keys[k].data(), keys[k].size()), isAsciiOnly(keys[k])};
        if (probes[k].ascii)
            byLength[std::min(keys[k].size(), lengthSlots - 1)] |= quint16(1u << k);
        else
            asText |= quint16(1u << k);
    }
    quint16 missing = quint16((1u << count) - 1);
    const PlistNode &dictionary = node();
    for (quint32 i = 0; i < dictionary.b && missing; i += 2) {
        const PlistNode &key = m_doc->node(dictionary.a + i);
        const bool plain = !(key.flags & (PlistNode::NeedsDecoding | PlistNode::SideString));
        quint16 candidates = missing & (plain ? byLength[std::min<quint32>(key.b, lengthSlots - 1)] | asText : missing);
        for (; candidates; candidates &= candidates - 1) {
            const int k = std::countr_zero(candidates);
            if (keyEquals(*m_doc, key, probes[k])) {
                missing &= quint16(~(1u << k));
                found[k] = PlistValue(m_doc, dictionary.a + i + 1);
            }
        }
    }
}

bool PlistValue::contains(QLatin1StringView key) const
{
    return !value(key).isAbsent();
}

qsizetype PlistValue::count() const
{
    switch (type()) {
    case Type::Dictionary: return node().b / 2;
    case Type::Array: return node().b;
    default: return 0;
    }
}

PlistValue PlistValue::at(qsizetype i) const
{
    if (!isArray() || i < 0 || i >= count())
        return {};
    return PlistValue(m_doc, node().a + quint32(i));
}

QString PlistValue::keyAt(qsizetype i) const
{
    if (!isDictionary() || i < 0 || i >= count())
        return {};
    return nodeText(*m_doc, m_doc->node(node().a + quint32(2 * i)));
}

PlistValue PlistValue::valueAt(qsizetype i) const
{
    if (!isDictionary() || i < 0 || i >= count())
        return {};
    return PlistValue(m_doc, node().a + quint32(2 * i + 1));
}

QString PlistValue::toString() const
{
    if (!isString())
        return {};
    return nodeText(*m_doc, node());
}

QByteArray PlistValue::toUtf8() const
{
    if (!isString())
        return {};
    const PlistNode &n = node();
    if (n.flags & PlistNode::SideString)
        return m_doc->sideStrings[n.a].toUtf8();
    if (n.flags & PlistNode::NeedsDecoding)
        return XmlText::decode(m_doc->rawText(n));
    return m_doc->rawText(n).toByteArray();
}

qint64 PlistValue::toInteger() const
{
    switch (type()) {
    case Type::Integer: return qint64(node().inlineBits());
    case Type::Real: return truncatedInteger(std::bit_cast<double>(node().inlineBits()));
    case Type::Boolean: return node().kind == PlistNode::True ? 1 : 0;
    case Type::String: {
        const PlistNode &n = node();
        if (n.flags & (PlistNode::NeedsDecoding | PlistNode::SideString))
            return leadingInteger(toUtf8());
        return leadingInteger(m_doc->rawText(n));
    }
    default: return 0;
    }
}

std::optional<PropertyList> PropertyList::readFile(const QString &path, const std::atomic<bool> *stop)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return std::nullopt;
    auto doc = std::make_shared<PropertyListDocument>();
    doc->stop = stop;
    if (file.isSequential()) {
        if (!readCapped(file, kMaxPlistFileBytes, doc->arrayBytes))
            return std::nullopt;
        doc->bytes = doc->arrayBytes.constData();
        doc->size = doc->arrayBytes.size();
        return parse(std::move(doc));
    }
    // Asked once: a file that grows meanwhile must not make the read run past the buffer.
    const qint64 size = file.size();
    if (size > kMaxPlistFileBytes)
        return std::nullopt;
    doc->fileBytes.resize(size_t(size));
    doc->bytes = doc->fileBytes.data();
    doc->size = size;
    std::optional<PropertyList> list;
    {
        const BackgroundFileRead read(file, doc->fileBytes.data(), doc->size);
        doc->arriving = &read.arriving();
        list = parse(doc);
    }
    doc->arriving = nullptr;
    return list;
}

std::optional<PropertyList> PropertyList::readData(const QByteArray &bytes)
{
    if (bytes.size() > kMaxPlistFileBytes)
        return std::nullopt;
    auto doc = std::make_shared<PropertyListDocument>();
    doc->arrayBytes = bytes;
    doc->bytes = doc->arrayBytes.constData();
    doc->size = doc->arrayBytes.size();
    return parse(std::move(doc));
}

std::optional<PropertyList> PropertyList::parse(std::shared_ptr<PropertyListDocument> doc)
{
    const QByteArrayView magic("bplist");
    const qsizetype head = doc->arriving ? doc->arriving->waitFor(magic.size()).arrived : doc->size;
    const bool binary = QByteArrayView(doc->bytes, head).startsWith(magic);
    if (binary && doc->arriving)
        doc->size = doc->arriving->waitFor(doc->size).arrived;
    if (!(binary ? BinaryPropertyListReader::read(*doc) : XmlPropertyListReader::read(*doc)))
        return std::nullopt;
    return PropertyList(std::move(doc));
}

PlistValue PropertyList::root() const
{
    return PlistValue(m_doc.get(), m_doc->root);
}

namespace {

bool isBinary(const PropertyListDocument &doc)
{
    return QByteArrayView(doc.bytes, doc.size).startsWith("bplist");
}

// An XML date's or data's text as the file has it, comments and references resolved.
QByteArray xmlText(const PropertyListDocument &doc, const PlistNode &node)
{
    if (node.flags & PlistNode::NeedsDecoding)
        return XmlText::decode(doc.rawText(node));
    return doc.rawText(node).toByteArray();
}

} // namespace

double PlistValue::toReal() const
{
    return type() == Type::Real ? std::bit_cast<double>(node().inlineBits()) : 0.0;
}

bool PlistValue::toBool() const
{
    return type() == Type::Boolean && node().kind == PlistNode::True;
}

QDateTime PlistValue::toDateTime() const
{
    if (type() != Type::Date)
        return {};
    if (!isBinary(*m_doc))
        return QDateTime::fromString(QString::fromLatin1(xmlText(*m_doc, node())), Qt::ISODate).toUTC();
    // Seconds since the start of 2001, as Core Foundation counts them.
    const double seconds = std::bit_cast<double>(node().inlineBits());
    if (!std::isfinite(seconds) || std::abs(seconds) > 1e15)
        return {};
    return QDateTime(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC).addMSecs(qint64(std::llround(seconds * 1000)));
}

QByteArray PlistValue::toData() const
{
    if (type() != Type::Data)
        return {};
    if (isBinary(*m_doc))
        return m_doc->rawText(node()).toByteArray();
    return QByteArray::fromBase64(xmlText(*m_doc, node()));
}
