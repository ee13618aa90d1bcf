#pragma once

// The property-list reader: XML ("plist 1.0", as iTunes writes its library) and binary ("bplist00", as in the
// preferences), read-only.

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringView>

#include <array>
#include <cstddef>
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
    // Dictionary: the value under each of `keys`, as value() gives it, found in one pass over the entries; cheaper
    // than a value() per key when several are wanted from each of many dictionaries.
    static constexpr std::size_t maxKeysAtOnce = 16;
    template<std::size_t N>
    std::array<PlistValue, N> values(const std::array<QLatin1StringView, N> &keys) const
    {
        static_assert(N <= maxKeysAtOnce, "look up at most maxKeysAtOnce keys in one pass");
        std::array<PlistValue, N> found;
        findValues(keys.data(), found.data(), qsizetype(N));
        return found;
    }

    // Dictionary: asks the processor to start loading the text of its keys, so that lookups in it a little later
    // do not each wait on memory. A hint only; nothing changes.
    void prefetchKeys() const;
    // Dictionary: the same for the nodes that prefetchKeys() reads, a step earlier.
    void prefetchEntries() const;

    // Dictionary: a promise that entries [begin, end) will not be read again through any handle, so that the memory
    // under their text may go back to the system (in a large file's document). Reading them afterwards gives
    // unspecified text, never a crash. For one who reads each entry of a large dictionary once, in order.
    void discardText(qsizetype begin, qsizetype end) const;

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
    // The same without a copy where the file spells the text as it is: a view into the document, or into
    // `decoded` when references had to be resolved. Valid while both live. Other types: an empty view.
    QByteArrayView utf8View(QByteArray &decoded) const;
    // String value equal to "" (no decoding unless the raw text holds references or CDATA)
    bool isEmptyString() const;
    // Like Cocoa's integerValue: integer as is, real truncated, boolean 0/1, string's leading decimal integer; else 0.
    qint64 toInteger() const;

private:
    friend class PropertyList;
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
    static std::optional<PropertyList> readFile(const QString &path);
    static std::optional<PropertyList> readData(const QByteArray &bytes);

    PlistValue root() const;

private:
    explicit PropertyList(std::shared_ptr<const PropertyListDocument> doc) : m_doc(std::move(doc)) { }
    static std::optional<PropertyList> parse(std::shared_ptr<PropertyListDocument> doc);

    std::shared_ptr<const PropertyListDocument> m_doc;
};
