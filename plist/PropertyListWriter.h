// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QXmlStreamWriter>

class PlistValue;

// Writes an XML property list ("plist 1.0", as macOS writes preferences): values read from another list, or
// dictionaries, arrays and texts built up piece by piece. The text is complete once the top-level value has
// been written.
class PropertyListWriter
{
public:
    PropertyListWriter();

    void beginDictionary();
    void writeKey(const QString &key);
    void endDictionary();
    void beginArray();
    void endArray();
    void writeString(const QString &text);
    void writeInteger(qint64 value);
    void writeBoolean(bool value);
    void writeDate(const QDateTime &value); // to the second, in UTC
    // Any value, with everything it holds.
    void writeValue(const PlistValue &value);

    // The document: the declaration, the DOCTYPE and the "plist" element around what was written.
    QByteArray finish();

private:
    QByteArray m_bytes;
    QXmlStreamWriter m_xml;
};
