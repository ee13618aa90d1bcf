// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The property-list reader: XML ("plist 1.0", as iTunes writes its library) and binary ("bplist00", as in the
// preferences), read-only.

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringView>

#include <memory>
#include <optional>

class PropertyListDocument; // owns the file's bytes and the parsed node arena
struct PlistNode;

// A read-only handle to one value inside a parsed property list. Cheap to copy; valid while the
// PropertyList it came from lives. A default-constructed (or missing) value is "absent".
class PlistValue
{
public:
    enum class Type { Absent, Dictionary, Array, String, Integer, Real, Boolean, Date, Data };

    PlistValue() = default;

    Type type() const;
    bool isAbsent() const { return type() == Type::Absent; }
    bool isDictionary() const { return type() == Type::Dictionary; }
    bool isArray() const { return type() == Type::Array; }
    bool isString() const { return type() == Type::String; }

    // Dictionary: the value under exactly this key (first one in file order), or absent.
    PlistValue value(QLatin1StringView key) const;
    bool contains(QLatin1StringView key) const;
    // Dictionary: number of entries; array: number of elements; otherwise 0.
    qsizetype count() const;
    // Array element i, or absent.
    PlistValue at(qsizetype i) const;
    // Dictionary entry i in file order (key text, value).
    QString keyAt(qsizetype i) const;
    PlistValue valueAt(qsizetype i) const;

    // String: its decoded text (entities and CDATA resolved). Other types: a null QString.
    QString toString() const;
    // String: the same text as UTF-8, without a trip through UTF-16. Other types: a null QByteArray.
    QByteArray toUtf8() const;
    // Like Cocoa's integerValue: integer as is, real truncated, boolean 0/1, string's leading decimal integer; else 0.
    qint64 toInteger() const;

private:
    friend class PropertyList;
    friend class DictionaryScan;
    PlistValue(const PropertyListDocument *doc, quint32 index) : m_doc(doc), m_index(index) { }
    const PlistNode &node() const;
    void findValues(const QLatin1StringView *keys, PlistValue *found, qsizetype count) const;

    const PropertyListDocument *m_doc = nullptr;
    quint32 m_index = 0;

public:
    // What a property-list writer needs to write every other type back. Other types: 0, false, an invalid
    // date, a null QByteArray.
    double toReal() const;
    bool toBool() const;
    QDateTime toDateTime() const; // in UTC
    QByteArray toData() const;
};

class PropertyList
{
public:
    // A property list whose top level is a dictionary, from an XML ("plist 1.0") or binary ("bplist00") file,
    // or nothing: unreadable, not a property list, truncated, malformed, too deep, declares entities, or a top
    // level that is not a dictionary.
    // `stop`, when given, ends a long XML parse early (with nothing) once it turns true, from any thread.
    static std::optional<PropertyList> readFile(const QString &path, const std::atomic<bool> *stop = nullptr);
    static std::optional<PropertyList> readData(const QByteArray &bytes);

    PlistValue root() const;

private:
    friend class DictionaryScan;
    explicit PropertyList(std::shared_ptr<const PropertyListDocument> doc) : m_doc(std::move(doc)) { }
    static std::optional<PropertyList> parse(std::shared_ptr<PropertyListDocument> doc);

    std::shared_ptr<const PropertyListDocument> m_doc;
};
