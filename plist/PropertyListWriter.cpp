// SPDX-License-Identifier: GPL-3.0-or-later
#include "PropertyListWriter.h"

#include "PropertyList.h"

#include <charconv>
#include <cmath>

namespace {

// The spellings Core Foundation writes and our reader takes back.
QString realText(double value)
{
    if (std::isnan(value))
        return QStringLiteral("nan");
    if (std::isinf(value))
        return value > 0 ? QStringLiteral("+infinity") : QStringLiteral("-infinity");
    char digits[32];
    const auto result = std::to_chars(digits, digits + sizeof digits, value); // the shortest text that reads back
    return QString::fromLatin1(digits, result.ptr - digits);
}

} // namespace

PropertyListWriter::PropertyListWriter()
    : m_xml(&m_bytes)
{
    m_xml.setAutoFormatting(true);
    m_xml.setAutoFormattingIndent(-1); // one tab per level, as macOS indents
    m_xml.writeStartDocument();
    m_xml.writeDTD(QStringLiteral("<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
                                  "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">"));
    m_xml.writeStartElement(QStringLiteral("plist"));
    m_xml.writeAttribute(QStringLiteral("version"), QStringLiteral("1.0"));
}

void PropertyListWriter::beginDictionary()
{
    m_xml.writeStartElement(QStringLiteral("dict"));
}

void PropertyListWriter::writeKey(const QString &key)
{
    m_xml.writeTextElement(QStringLiteral("key"), key);
}

void PropertyListWriter::endDictionary()
{
    m_xml.writeEndElement();
}

void PropertyListWriter::beginArray()
{
    m_xml.writeStartElement(QStringLiteral("array"));
}

void PropertyListWriter::endArray()
{
    m_xml.writeEndElement();
}

void PropertyListWriter::writeString(const QString &text)
{
    m_xml.writeTextElement(QStringLiteral("string"), text);
}

void PropertyListWriter::writeInteger(qint64 value)
{
    m_xml.writeTextElement(QStringLiteral("integer"), QString::number(value));
}

void PropertyListWriter::writeBoolean(bool value)
{
    m_xml.writeEmptyElement(value ? QStringLiteral("true") : QStringLiteral("false"));
}

void PropertyListWriter::writeDate(const QDateTime &value)
{
    m_xml.writeTextElement(QStringLiteral("date"), value.toUTC().toString(Qt::ISODate));
}

void PropertyListWriter::writeValue(const PlistValue &value)
{
    switch (value.type()) {
    case PlistValue::Type::Absent:
        break;
    case PlistValue::Type::Dictionary:
        beginDictionary();
        for (qsizetype i = 0; i < value.count(); ++i) {
            writeKey(value.keyAt(i));
            writeValue(value.valueAt(i));
        }
        endDictionary();
        break;
    case PlistValue::Type::Array:
        beginArray();
        for (qsizetype i = 0; i < value.count(); ++i)
            writeValue(value.at(i));
        endArray();
        break;
    case PlistValue::Type::String:
        writeString(value.toString());
        break;
    case PlistValue::Type::Integer:
        writeInteger(value.toInteger());
        break;
    case PlistValue::Type::Real:
        m_xml.writeTextElement(QStringLiteral("real"), realText(value.toReal()));
        break;
    case PlistValue::Type::Boolean:
        writeBoolean(value.toBool());
        break;
    case PlistValue::Type::Date:
        // An unreadable date comes out empty, which no reader takes: the caller finds out by reading back.
        m_xml.writeTextElement(QStringLiteral("date"), value.toDateTime().toString(Qt::ISODate));
        break;
    case PlistValue::Type::Data:
        m_xml.writeTextElement(QStringLiteral("data"), QString::fromLatin1(value.toData().toBase64()));
        break;
    }
}

QByteArray PropertyListWriter::finish()
{
    m_xml.writeEndDocument();
    m_bytes.append('\n');
    return std::move(m_bytes);
}
