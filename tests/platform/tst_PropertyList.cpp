#include "PropertyList.h"
#include "PropertyListDocument.h"
#include "XmlPropertyListReader.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <bit>
#include <chrono>
#include <thread>
#include <utility>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

QByteArray plist(const QByteArray &body)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<!DOCTYPE plist PUBLIC \"-//Apple Computer//DTD PLIST 1.0//EN\" "
           "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
           "<plist version=\"1.0\">\n"
        + body + "\n</plist>\n";
}

// A dictionary holding one value, under "s".
QByteArray valuePlist(const QByteArray &element)
{
    return plist("<dict><key>s</key>" + element + "</dict>");
}

PlistValue onlyValue(const std::optional<PropertyList> &list)
{
    return list ? list->root().valueAt(0) : PlistValue();
}

QString fixture(const char *name)
{
    return QStringLiteral(PELLISOR_FIXTURES_DIR "/") + QLatin1StringView(name);
}

PlistValue track(const PropertyList &library, const char *id)
{
    return library.root().value("Tracks"_L1).value(QLatin1StringView(id));
}

// Writes "bplist00" files object by object.
class BinaryPlistWriter
{
public:
    explicit BinaryPlistWriter(int refWidth = 1) : m_refWidth(refWidth) { }

    int add(const QByteArray &object)
    {
        m_objects.push_back(object);
        return int(m_objects.size() - 1);
    }

    int addString(const QString &text)
    {
        bool ascii = true;
        for (const QChar c : text)
            ascii = ascii && c.unicode() < 0x80;
        if (ascii)
            return add(header(0x5, text.size()) + text.toLatin1());
        QByteArray units(text.size() * 2, Qt::Uninitialized);
        qToBigEndian<char16_t>(text.utf16(), text.size(), units.data());
        return add(header(0x6, text.size()) + units);
    }

    int addInteger(quint64 value, int width)
    {
        QByteArray object(1, char(0x10 | std::countr_zero(unsigned(width))));
        for (int i = width - 1; i >= 0; --i)
            object.append(char(value >> (8 * i)));
        return add(object);
    }

    int addArray(const QList<int> &refs) { return add(header(0xA, refs.size()) + refBytes(refs)); }

    int addDictionary(const QList<std::pair<int, int>> &entries)
    {
        QList<int> keys, values;
        for (const auto &[key, value] : entries) {
            keys.append(key);
            values.append(value);
        }
        return add(header(0xD, entries.size()) + refBytes(keys) + refBytes(values));
    }

    QByteArray finish(int top) const
    {
        QByteArray file("bplist00");
        QList<int> offsets;
        for (const QByteArray &object : m_objects) {
            offsets.append(int(file.size()));
            file += object;
        }
        const quint64 tableOffset = quint64(file.size());
        const int offsetWidth = file.size() < 0x10000 ? 2 : 4;
        for (const int offset : offsets)
            file += bigEndian(quint64(offset), offsetWidth);
        file += QByteArray(6, '\0') + char(offsetWidth) + char(m_refWidth);
        file += bigEndian(quint64(m_objects.size()), 8) + bigEndian(quint64(top), 8) + bigEndian(tableOffset, 8);
        return file;
    }

    static QByteArray bigEndian(quint64 value, int width)
    {
        QByteArray bytes;
        for (int i = width - 1; i >= 0; --i)
            bytes.append(char(value >> (8 * i)));
        return bytes;
    }

    // A marker with its count, spelled out as an integer object when it does not fit the low nibble.
    static QByteArray header(int type, qsizetype count)
    {
        if (count < 15)
            return QByteArray(1, char(type << 4 | int(count)));
        return QByteArray(1, char(type << 4 | 0xF)) + char(0x13) + bigEndian(quint64(count), 8);
    }

    QByteArray refBytes(const QList<int> &refs) const
    {
        QByteArray bytes;
        for (const int ref : refs)
            bytes += bigEndian(quint64(ref), m_refWidth);
        return bytes;
    }

private:
    int m_refWidth;
    std::vector<QByteArray> m_objects;
};

// Parses an XML list the way readFile does, while its bytes are still arriving, here in small pieces with pauses
// between them. Bytes that have not arrived yet are garbage, so reading them would show.
bool parsesWhileArriving(const QByteArray &document)
{
    constexpr qsizetype kPiece = 4096;
    QByteArray buffer(document.size(), '\xFF');
    PropertyListDocument doc;
    doc.arrayBytes = buffer;
    doc.bytes = doc.arrayBytes.data(); // detached: the feeder writes into it
    doc.size = document.size();
    ArrivingBytes arriving;
    doc.arriving = &arriving;
    char *target = doc.arrayBytes.data();
    std::thread feeder([&] {
        for (qsizetype done = 0; !arriving.isCancelled();) {
            const qsizetype piece = std::min(kPiece, document.size() - done);
            std::memcpy(target + done, document.constData() + done, size_t(piece));
            done += piece;
            arriving.arrive(done, done == document.size());
            if (done == document.size())
                break;
            std::this_thread::sleep_for(std::chrono::microseconds(20));
        }
    });
    const bool parsed = XmlPropertyListReader::read(doc);
    arriving.cancel();
    feeder.join();
    return parsed;
}

// { "names": ["plain", "Ünïcödé ♫"], "nested": { "deeper": { "leaf": "x" } }, "i1".."i8": ints of each width }
QByteArray sampleBinaryPlist()
{
    BinaryPlistWriter w;
    const int names = w.addArray({w.addString(u"plain"_s), w.addString(u"Ünïcödé ♫"_s)});
    const int deeper = w.addDictionary({{w.addString(u"leaf"_s), w.addString(u"x"_s)}});
    const int nested = w.addDictionary({{w.addString(u"deeper"_s), deeper}});
    const int top = w.addDictionary({
        {w.addString(u"names"_s), names},
        {w.addString(u"nested"_s), nested},
        {w.addString(u"i1"_s), w.addInteger(200, 1)},
        {w.addString(u"i2"_s), w.addInteger(60000, 2)},
        {w.addString(u"i4"_s), w.addInteger(4000000000u, 4)},
        {w.addString(u"i8"_s), w.addInteger(quint64(-5), 8)},
    });
    return w.finish(top);
}

} // namespace

class tst_PropertyList : public QObject
{
    Q_OBJECT

private slots:
    // Real libraries
    void fixtureLibrariesParse_data();
    void fixtureLibrariesParse();
    void fixtureDetails();

    // Structure and values
    void dictionaryKeepsFileOrder();
    void duplicateKeysFirstWinsForLookup();
    void accessorsOnTheWrongType();
    void textDecoding_data();
    void textDecoding();
    void toInteger_data();
    void toInteger();
    void acceptedSyntax_data();
    void acceptedSyntax();

    // Hostile or broken XML
    void refusesMalformedXml_data();
    void refusesMalformedXml();
    void refusesEveryTruncation();
    void refusesDeepNestingQuickly();
    void refusesUnreadableFiles();
    void readsLargeFiles();
    void parsesWhileBytesArrive_data();
    void parsesWhileBytesArrive();

    // Binary lists
    void readsBinaryList();
    void readsBinaryListFromFile();
    void readsBinaryScalars();
    void binarySharedObjectsAreReadOnce();
    void refusesMalformedBinary_data();
    void refusesMalformedBinary();
    void refusesEveryBinaryTruncation();
};

void tst_PropertyList::fixtureLibrariesParse_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("tracks");
    QTest::newRow("Windows, CRLF") << fixture("beetbox_beets__itunes_library_windows.xml") << 3;
    QTest::newRow("UTF-8 BOM") << fixture("asciamanna_iTunesLibraryParser__sampleiTunesLibrary.xml") << 30;
    QTest::newRow("NFD names, data") << fixture("jonaustin_lastfm-itunes__iTunes_Music_Library.xml") << 162;
    QTest::newRow("disabled tracks") << fixture("rojosinalma_itunes_parser__jeff.xml") << 73;
    QTest::newRow("unusual key order") << fixture("coolaj86_node-plist-stream__Library.xml") << 2;
    QTest::newRow("re-indented") << fixture("liamks_libpytunes__Test_Library.xml") << 402;
}

void tst_PropertyList::fixtureLibrariesParse()
{
    QFETCH(QString, file);
    QFETCH(int, tracks);
    const std::optional<PropertyList> library = PropertyList::readFile(file);
    QVERIFY(library);
    const PlistValue all = library->root().value("Tracks"_L1);
    QVERIFY(all.isDictionary());
    QCOMPARE(all.count(), tracks);
    for (qsizetype i = 0; i < all.count(); ++i) {
        const PlistValue entry = all.valueAt(i);
        QCOMPARE(entry.value("Track ID"_L1).toInteger(), all.keyAt(i).toLongLong());
    }
    QVERIFY(library->root().value("Playlists"_L1).isArray());
}

void tst_PropertyList::fixtureDetails()
{
    const auto windows = PropertyList::readFile(fixture("beetbox_beets__itunes_library_windows.xml"));
    QVERIFY(windows);
    QCOMPARE(track(*windows, "638").value("Name"_L1).toString(), u"❦ (Ripe & Ruin)"_s);
    QVERIFY(track(*windows, "638").value("Location"_L1).toString().endsWith(u"%E2%9D%A6%20(Ripe%20&%20Ruin).mp3"_s));
    QCOMPARE(track(*windows, "638").value("Location"_L1).toUtf8(),
             track(*windows, "638").value("Location"_L1).toString().toUtf8());

    const auto bom = PropertyList::readFile(fixture("asciamanna_iTunesLibraryParser__sampleiTunesLibrary.xml"));
    QVERIFY(bom);
    QCOMPARE(bom->root().keyAt(0), u"Major Version"_s);
    QCOMPARE(track(*bom, "17714").value("Name"_L1).toString(), u"Dream Gypsy"_s);

    const auto mac = PropertyList::readFile(fixture("jonaustin_lastfm-itunes__iTunes_Music_Library.xml"));
    QVERIFY(mac);
    QCOMPARE(track(*mac, "1893").value("Name"_L1).toString(), u"Insomnia (Alan\u00efa mix)"_s);
    QVERIFY(track(*mac, "1893").value("Location"_L1).toString().endsWith(u"Alani%CC%88a%20mix).mp3"_s));

    const auto jeff = PropertyList::readFile(fixture("rojosinalma_itunes_parser__jeff.xml"));
    QVERIFY(jeff);
    const PlistValue jeffTracks = jeff->root().value("Tracks"_L1);
    qsizetype disabled = 0;
    for (qsizetype i = 0; i < jeffTracks.count(); ++i)
        disabled += jeffTracks.valueAt(i).contains("Disabled"_L1);
    QCOMPARE(disabled, 36);

    const auto folders = PropertyList::readFile(fixture("coolaj86_node-plist-stream__Library.xml"));
    QVERIFY(folders);
    QCOMPARE(folders->root().keyAt(1), u"Tracks"_s);
    QCOMPARE(folders->root().value("Minor Version"_L1).toInteger(), 1);

    const auto reindented = PropertyList::readFile(fixture("liamks_libpytunes__Test_Library.xml"));
    QVERIFY(reindented);
    QCOMPARE(track(*reindented, "71366").value("Size"_L1).toInteger(), Q_INT64_C(6835220111));
    QCOMPARE(reindented->root().value("Show Content Ratings"_L1).type(), PlistValue::Type::Boolean);
    QCOMPARE(reindented->root().value("Show Content Ratings"_L1).toInteger(), 1);
}

void tst_PropertyList::dictionaryKeepsFileOrder()
{
    const auto list = PropertyList::readData(plist(
        "<dict><key>zebra</key><integer>1</integer><key>apple</key><integer>2</integer>"
        "<key>mango</key><integer>3</integer></dict>"));
    QVERIFY(list);
    const PlistValue root = list->root();
    QCOMPARE(root.count(), 3);
    QCOMPARE(root.keyAt(0), u"zebra"_s);
    QCOMPARE(root.keyAt(1), u"apple"_s);
    QCOMPARE(root.keyAt(2), u"mango"_s);
    QCOMPARE(root.valueAt(2).toInteger(), 3);
}

void tst_PropertyList::duplicateKeysFirstWinsForLookup()
{
    const auto list = PropertyList::readData(plist(
        "<dict><key>k</key><string>first</string><key>other</key><true/><key>k</key><string>second</string></dict>"));
    QVERIFY(list);
    const PlistValue root = list->root();
    QCOMPARE(root.value("k"_L1).toString(), u"first"_s);
    QCOMPARE(root.count(), 3);
    QCOMPARE(root.keyAt(2), u"k"_s);
    QCOMPARE(root.valueAt(2).toString(), u"second"_s);
}

void tst_PropertyList::accessorsOnTheWrongType()
{
    const auto list = PropertyList::readData(plist(
        "<dict><key>a</key><array><string>x</string><integer>7</integer></array><key>n</key><integer>5</integer>"
        "<key>d</key><date>2015-05-11T15:27:14Z</date></dict>"));
    QVERIFY(list);
    const PlistValue root = list->root();
    const PlistValue array = root.value("a"_L1);
    QCOMPARE(array.count(), 2);
    QCOMPARE(array.at(0).toString(), u"x"_s);
    QVERIFY(array.at(2).isAbsent());
    QVERIFY(array.at(-1).isAbsent());
    QVERIFY(array.value("x"_L1).isAbsent());
    QVERIFY(root.at(0).isAbsent());
    QVERIFY(root.valueAt(3).isAbsent());
    QVERIFY(root.keyAt(3).isNull());
    QVERIFY(root.value("missing"_L1).isAbsent());
    QVERIFY(root.value("missing"_L1).value("deeper"_L1).isAbsent());
    QVERIFY(root.value("n"_L1).toString().isNull());
    QVERIFY(!root.value("n"_L1).isEmptyString());
    QCOMPARE(root.value("d"_L1).type(), PlistValue::Type::Date);
    QVERIFY(root.value("d"_L1).toString().isNull());
    QCOMPARE(PlistValue().count(), 0);
    QCOMPARE(PlistValue().toInteger(), 0);
}

void tst_PropertyList::textDecoding_data()
{
    QTest::addColumn<QByteArray>("element");
    QTest::addColumn<QString>("text");

    QTest::newRow("plain") << QByteArray("<string>Tessellate</string>") << u"Tessellate"_s;
    QTest::newRow("UTF-8") << QByteArray("<string>Sigur Rós — 東京 🎵</string>") << u"Sigur Rós — 東京 🎵"_s;
    QTest::newRow("predefined entities") << QByteArray("<string>&amp;&lt;&gt;&quot;&apos;</string>") << u"&<>\"'"_s;
    QTest::newRow("decimal reference") << QByteArray("<string>Ripe &#38; Ruin</string>") << u"Ripe & Ruin"_s;
    QTest::newRow("hex reference") << QByteArray("<string>&#x26;&#x3c;</string>") << u"&<"_s;
    QTest::newRow("astral reference") << QByteArray("<string>&#x1F3B5;</string>") << u"🎵"_s;
    QTest::newRow("CDATA keeps markup") << QByteArray("<string>a<![CDATA[<b>&amp;</b>]]>z</string>") << u"a<b>&amp;</b>z"_s;
    QTest::newRow("comment inside") << QByteArray("<string>be<!-- gone -->fore</string>") << u"before"_s;
    QTest::newRow("processing instruction inside") << QByteArray("<string>a<?x ?>?>b</string>") << u"a?>b"_s;
    QTest::newRow("CRLF becomes LF") << QByteArray("<string>one\r\ntwo\rthree</string>") << u"one\ntwo\nthree"_s;
    QTest::newRow("empty element") << QByteArray("<string/>") << u""_s;
    QTest::newRow("empty pair") << QByteArray("<string></string>") << u""_s;
    QTest::newRow("empty CDATA") << QByteArray("<string><![CDATA[]]></string>") << u""_s;
    QTest::newRow("space reference only") << QByteArray("<string>&#x20;</string>") << u" "_s;
    // Inside a value U+FEFF is a character, not a byte-order mark to drop.
    QTest::newRow("leading U+FEFF") << QByteArray("<string>\xEF\xBB\xBFtitle</string>") << u"\uFEFFtitle"_s;
    QTest::newRow("leading U+FEFF, decoded") << QByteArray("<string>\xEF\xBB\xBF&amp;</string>") << u"\uFEFF&"_s;
}

void tst_PropertyList::textDecoding()
{
    QFETCH(QByteArray, element);
    QFETCH(QString, text);
    const auto list = PropertyList::readData(valuePlist(element));
    QVERIFY(list);
    const PlistValue value = onlyValue(list);
    QVERIFY(value.isString());
    QCOMPARE(value.toString(), text);
    QCOMPARE(value.toUtf8(), text.toUtf8());
    QCOMPARE(value.isEmptyString(), text.isEmpty());
}

void tst_PropertyList::toInteger_data()
{
    QTest::addColumn<QByteArray>("element");
    QTest::addColumn<qint64>("expected");

    QTest::newRow("integer") << QByteArray("<integer>42</integer>") << Q_INT64_C(42);
    QTest::newRow("negative") << QByteArray("<integer>-1</integer>") << Q_INT64_C(-1);
    QTest::newRow("padded") << QByteArray("<integer> +17 </integer>") << Q_INT64_C(17);
    QTest::newRow("largest") << QByteArray("<integer>9223372036854775807</integer>") << Q_INT64_C(9223372036854775807);
    QTest::newRow("smallest") << QByteArray("<integer>-9223372036854775808</integer>") << (-Q_INT64_C(9223372036854775807) - 1);
    QTest::newRow("real truncates") << QByteArray("<real>3.99</real>") << Q_INT64_C(3);
    QTest::newRow("negative real truncates") << QByteArray("<real>-3.99</real>") << Q_INT64_C(-3);
    QTest::newRow("huge real saturates") << QByteArray("<real>1e300</real>") << Q_INT64_C(9223372036854775807);
    QTest::newRow("true") << QByteArray("<true/>") << Q_INT64_C(1);
    QTest::newRow("true with space") << QByteArray("<true />") << Q_INT64_C(1);
    QTest::newRow("false") << QByteArray("<false/>") << Q_INT64_C(0);
    QTest::newRow("string digits") << QByteArray("<string>123</string>") << Q_INT64_C(123);
    QTest::newRow("string stops at non-digit") << QByteArray("<string>  -45abc</string>") << Q_INT64_C(-45);
    QTest::newRow("string with reference") << QByteArray("<string>&#49;2</string>") << Q_INT64_C(12);
    QTest::newRow("string without digits") << QByteArray("<string>abc</string>") << Q_INT64_C(0);
    QTest::newRow("string saturates") << QByteArray("<string>99999999999999999999</string>") << Q_INT64_C(9223372036854775807);
    QTest::newRow("date") << QByteArray("<date>2015-05-11T15:27:14Z</date>") << Q_INT64_C(0);
    QTest::newRow("data") << QByteArray("<data>AAAA</data>") << Q_INT64_C(0);
    QTest::newRow("dictionary") << QByteArray("<dict/>") << Q_INT64_C(0);
}

void tst_PropertyList::toInteger()
{
    QFETCH(QByteArray, element);
    QFETCH(qint64, expected);
    const auto list = PropertyList::readData(valuePlist(element));
    QVERIFY(list);
    QCOMPARE(onlyValue(list).toInteger(), expected);
}

// Forms that are rare in libraries but well-formed, and must not be refused.
void tst_PropertyList::acceptedSyntax_data()
{
    QTest::addColumn<QByteArray>("document");

    QTest::newRow("empty root") << plist("<dict/>");
    QTest::newRow("empty containers") << plist("<dict><key>a</key><array/><key>d</key><dict></dict></dict>");
    QTest::newRow("comments and PIs between elements")
        << plist("<!-- c --><dict><?pi x?><key>a</key><!-- c --><integer>1</integer></dict><!-- c -->");
    QTest::newRow("comment after the end") << plist("<dict/>") + "<!-- done -->\n";
    QTest::newRow("no declaration or DOCTYPE") << QByteArray("<plist version=\"1.0\"><dict/></plist>");
    QTest::newRow("spaces in tags") << QByteArray("<plist version = '1.0' ><dict ><key>a</key ><true /></dict ></plist >");
    QTest::newRow("end tag of true") << plist("<dict><key>a</key><true></true></dict>");
    QTest::newRow("reals") << plist("<dict><key>a</key><real>-1.5e3</real><key>b</key><real>nan</real></dict>");
    QTest::newRow("multi-line data") << plist("<dict><key>a</key><data>\n\tAQID\n\tBA==\n</data></dict>");
    QTest::newRow("nesting at the limit") << plist(QByteArray("<dict><key>k</key>").repeated(511) + "<dict/>"
                                                   + QByteArray("</dict>").repeated(511));
}

void tst_PropertyList::acceptedSyntax()
{
    QFETCH(QByteArray, document);
    QVERIFY(PropertyList::readData(document));
}

void tst_PropertyList::refusesMalformedXml_data()
{
    QTest::addColumn<QByteArray>("document");

    // Not a property list at all
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("whitespace") << QByteArray(" \n\t ");
    QTest::newRow("garbage") << QByteArray("\x00\xff\xfe garbage \x01\x02", 14);
    QTest::newRow("other XML document") << QByteArray("<?xml version=\"1.0\"?><html><body/></html>");
    QTest::newRow("declaration without version") << QByteArray("<?xml encoding=\"UTF-8\"?><plist><dict/></plist>");
    QTest::newRow("declaration not first") << QByteArray(" <?xml version=\"1.0\"?><plist><dict/></plist>");
    QTest::newRow("plist without value") << QByteArray("<plist version=\"1.0\"></plist>");
    QTest::newRow("empty plist element") << QByteArray("<plist/>");

    // Top level that is not a dictionary
    QTest::newRow("top-level array") << plist("<array><string>a</string></array>");
    QTest::newRow("top-level string") << plist("<string>a</string>");
    QTest::newRow("two top-level values") << plist("<dict/><dict/>");

    // Structure
    QTest::newRow("mismatched end tag") << plist("<dict><key>a</key><string>x</key></dict>");
    QTest::newRow("unclosed dict") << plist("<dict><key>a</key><string>x</string>");
    QTest::newRow("missing plist end") << QByteArray("<plist version=\"1.0\"><dict/>");
    QTest::newRow("key without value") << plist("<dict><key>a</key></dict>");
    QTest::newRow("value without key") << plist("<dict><string>x</string></dict>");
    QTest::newRow("key in array") << plist("<dict><key>a</key><array><key>b</key></array></dict>");
    QTest::newRow("unknown element") << plist("<dict><key>a</key><uuid>x</uuid></dict>");
    QTest::newRow("element inside string") << plist("<dict><key>a</key><string>x<b/>y</string></dict>");
    QTest::newRow("text between elements") << plist("<dict>stray<key>a</key><true/></dict>");
    QTest::newRow("text after end") << plist("<dict/>") + "trailing";
    QTest::newRow("element after end") << plist("<dict/>") + "<dict/>";
    QTest::newRow("bad attribute") << QByteArray("<plist version=1.0><dict/></plist>");

    // Text
    QTest::newRow("unknown entity") << valuePlist("<string>&nbsp;</string>");
    QTest::newRow("unterminated reference") << valuePlist("<string>&amp</string>");
    QTest::newRow("bare ampersand") << valuePlist("<string>R & B</string>");
    QTest::newRow("reference to NUL") << valuePlist("<string>&#0;</string>");
    QTest::newRow("reference to surrogate") << valuePlist("<string>&#xD800;</string>");
    QTest::newRow("reference beyond Unicode") << valuePlist("<string>&#x110000;</string>");
    QTest::newRow("empty reference") << valuePlist("<string>&#;</string>");
    QTest::newRow("upper-case X in reference") << valuePlist("<string>&#X26;</string>");
    QTest::newRow("raw less-than") << valuePlist("<string>a < b</string>");
    QTest::newRow("CDATA end in text") << valuePlist("<string>a ]]> b</string>");
    QTest::newRow("control character") << valuePlist(QByteArray("<string>a\x01b</string>"));
    QTest::newRow("invalid UTF-8") << valuePlist(QByteArray("<string>caf\xe9</string>"));
    QTest::newRow("overlong UTF-8") << valuePlist(QByteArray("<string>\xc0\xaf</string>"));
    QTest::newRow("UTF-8 surrogate") << valuePlist(QByteArray("<string>\xed\xa0\x80</string>"));
    QTest::newRow("unterminated CDATA") << valuePlist("<string><![CDATA[abc</string>");
    QTest::newRow("double dash in comment") << plist("<!-- a -- b --><dict/>");

    // Entities are never declared or expanded
    QTest::newRow("internal subset") << QByteArray(
        "<?xml version=\"1.0\"?>\n<!DOCTYPE plist [\n<!ENTITY a \"aaaaaaaaaa\">\n<!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;\">\n"
        "<!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;\">\n]>\n<plist version=\"1.0\"><dict><key>k</key><string>&c;</string></dict></plist>");
    QTest::newRow("empty internal subset") << QByteArray("<!DOCTYPE plist []><plist version=\"1.0\"><dict/></plist>");
    QTest::newRow("two DOCTYPEs") << QByteArray("<!DOCTYPE plist><!DOCTYPE plist><plist><dict/></plist>");

    // Scalars
    QTest::newRow("integer overflow") << valuePlist("<integer>9223372036854775808</integer>");
    QTest::newRow("integer underflow") << valuePlist("<integer>-9223372036854775809</integer>");
    QTest::newRow("integer with letters") << valuePlist("<integer>12a</integer>");
    QTest::newRow("empty integer") << valuePlist("<integer/>");
    QTest::newRow("sign only") << valuePlist("<integer>-</integer>");
    QTest::newRow("real with letters") << valuePlist("<real>1.5x</real>");
    QTest::newRow("text in true") << valuePlist("<true>yes</true>");
    QTest::newRow("date with letters") << valuePlist("<date>yesterday</date>");
    QTest::newRow("data with symbols") << valuePlist("<data>AA$A</data>");

    // Depth
    QTest::newRow("nesting past the limit") << plist(QByteArray("<dict><key>k</key>").repeated(512) + "<dict/>"
                                                     + QByteArray("</dict>").repeated(512));
}

void tst_PropertyList::refusesMalformedXml()
{
    QFETCH(QByteArray, document);
    QVERIFY(!PropertyList::readData(document));
}

// Every proper prefix of a valid list is refused, and none of them upsets the reader.
void tst_PropertyList::refusesEveryTruncation()
{
    const QByteArray document = "\xEF\xBB\xBF" + plist(
        "<dict><key>a&amp;b</key><string>x<![CDATA[y]]>&#x41;</string><!-- c --><key>n</key><integer>-12</integer>"
        "<key>r</key><real>1.5</real><key>l</key><array><true /><false/><date>2015-05-11T15:27:14Z</date>"
        "<data>AAAA</data><dict/></array></dict>");
    QVERIFY(PropertyList::readData(document));
    const qsizetype end = document.indexOf("</plist>") + 8;
    for (qsizetype length = 0; length < end; ++length)
        QVERIFY2(!PropertyList::readData(document.left(length)), qPrintable(QString::number(length)));
}

void tst_PropertyList::refusesDeepNestingQuickly()
{
    constexpr int kLevels = 100000;
    for (const QByteArray &level : {QByteArray("<array>"), QByteArray("<dict><key>k</key>")}) {
        const QByteArray document = plist(level.repeated(kLevels));
        QElapsedTimer timer;
        timer.start();
        QVERIFY(!PropertyList::readData(document));
        QVERIFY(timer.elapsed() < 1000);
    }
}

void tst_PropertyList::refusesUnreadableFiles()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(!PropertyList::readFile(dir.filePath(u"missing.xml"_s)));
    QVERIFY(!PropertyList::readFile(dir.path()));
    QFile empty(dir.filePath(u"empty.xml"_s));
    QVERIFY(empty.open(QIODevice::WriteOnly));
    empty.close();
    QVERIFY(!PropertyList::readFile(empty.fileName()));
}

// Files are parsed while they are still being read, an element at a time: elements that straddle what has arrived,
// and one longer than the reader ever waits for, must come out whole.
void tst_PropertyList::readsLargeFiles()
{
    constexpr int kEntries = 50000;
    const QByteArray longText = QByteArray("Ripe &#38; Ruin ").repeated(80000);
    QByteArray body = "<dict><key>long</key><string>" + longText + "</string>";
    for (int i = 0; i < kEntries; ++i)
        body += "<key>" + QByteArray::number(i) + "</key><integer>" + QByteArray::number(i * 7) + "</integer>";
    const QByteArray document = plist(body + "</dict>");
    QVERIFY(document.size() > 3 * (1 << 20)); // several pieces for the reading thread

    QTemporaryDir dir;
    QFile file(dir.filePath(u"Library.xml"_s));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(document);
    file.close();
    const auto list = PropertyList::readFile(file.fileName());
    QVERIFY(list);
    QCOMPARE(list->root().keyAt(0), u"long"_s);
    QCOMPARE(list->root().count(), kEntries + 1);
    QCOMPARE(list->root().value("long"_L1).toString(), u"Ripe & Ruin "_s.repeated(80000));
    QCOMPARE(list->root().value("49999"_L1).toInteger(), 49999 * 7);

    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(document.left(document.size() - 20));
    file.close();
    QVERIFY(!PropertyList::readFile(file.fileName()));
}

void tst_PropertyList::parsesWhileBytesArrive_data()
{
    QTest::addColumn<QByteArray>("document");
    QTest::addColumn<bool>("valid");

    const QByteArray entries = QByteArray("<key>k</key><string>v &#38; w</string><key>n</key><integer>7</integer>").repeated(20000);
    const QByteArray longer = QByteArray(1 << 20, 'x');
    QTest::newRow("many small elements") << plist("<dict>" + entries + "</dict>") << true;
    QTest::newRow("string longer than the read-ahead") << plist("<dict><key>k</key><string>" + longer + "</string></dict>") << true;
    QTest::newRow("comment longer than the read-ahead") << plist("<dict><!--" + longer + "--><key>k</key><true/></dict>") << true;
    QTest::newRow("indentation longer than the read-ahead")
        << QByteArray("<plist version=\"1.0\">" + QByteArray(1 << 20, '\t') + "<dict/></plist>") << true;
    QTest::newRow("truncated") << plist("<dict>" + entries + "</dict>").chopped(12) << false;
    QTest::newRow("broken at the end") << plist("<dict>" + entries + "</dict>") + "<" << false;
}

void tst_PropertyList::parsesWhileBytesArrive()
{
    QFETCH(QByteArray, document);
    QFETCH(bool, valid);
    QCOMPARE(PropertyList::readData(document).has_value(), valid);
    QCOMPARE(parsesWhileArriving(document), valid);
}

void tst_PropertyList::readsBinaryList()
{
    const auto list = PropertyList::readData(sampleBinaryPlist());
    QVERIFY(list);
    const PlistValue root = list->root();
    QCOMPARE(root.count(), 6);
    QCOMPARE(root.keyAt(0), u"names"_s);
    const PlistValue names = root.value("names"_L1);
    QCOMPARE(names.count(), 2);
    QCOMPARE(names.at(0).toString(), u"plain"_s);
    QCOMPARE(names.at(1).toString(), u"Ünïcödé ♫"_s);
    QCOMPARE(names.at(1).toUtf8(), u"Ünïcödé ♫"_s.toUtf8());
    QCOMPARE(root.value("nested"_L1).value("deeper"_L1).value("leaf"_L1).toString(), u"x"_s);
    QCOMPARE(root.value("i1"_L1).toInteger(), 200);
    QCOMPARE(root.value("i2"_L1).toInteger(), 60000);
    QCOMPARE(root.value("i4"_L1).toInteger(), Q_INT64_C(4000000000));
    QCOMPARE(root.value("i8"_L1).toInteger(), -5);
    QCOMPARE(root.value("i8"_L1).type(), PlistValue::Type::Integer);
}

void tst_PropertyList::readsBinaryScalars()
{
    BinaryPlistWriter w;
    const auto entry = [&](const char *key, const QByteArray &object) {
        return std::pair(w.addString(QString::fromLatin1(key)), w.add(object));
    };
    const QList<std::pair<int, int>> entries = {
        entry("true", QByteArray(1, char(0x09))),
        entry("false", QByteArray(1, char(0x08))),
        entry("double", "\x23" + BinaryPlistWriter::bigEndian(std::bit_cast<quint64>(-2.75), 8)),
        entry("float", "\x22" + BinaryPlistWriter::bigEndian(std::bit_cast<quint32>(7.5f), 4)),
        entry("date", "\x33" + BinaryPlistWriter::bigEndian(std::bit_cast<quint64>(4.5e8), 8)),
        entry("data", "\x43" + QByteArray("abc")),
        entry("uid", "\x81" + BinaryPlistWriter::bigEndian(513, 2)),
        entry("int16", "\x14" + BinaryPlistWriter::bigEndian(0, 8) + BinaryPlistWriter::bigEndian(42, 8)),
        entry("megabyte", BinaryPlistWriter::header(0x4, 1 << 20) + QByteArray(1 << 20, 'x')),
    };
    const auto list = PropertyList::readData(w.finish(w.addDictionary(entries)));
    QVERIFY(list);
    const PlistValue root = list->root();
    QCOMPARE(root.value("true"_L1).type(), PlistValue::Type::Boolean);
    QCOMPARE(root.value("true"_L1).toInteger(), 1);
    QCOMPARE(root.value("false"_L1).toInteger(), 0);
    QCOMPARE(root.value("double"_L1).type(), PlistValue::Type::Real);
    QCOMPARE(root.value("double"_L1).toInteger(), -2);
    QCOMPARE(root.value("float"_L1).toInteger(), 7);
    QCOMPARE(root.value("date"_L1).type(), PlistValue::Type::Date);
    QCOMPARE(root.value("data"_L1).type(), PlistValue::Type::Data);
    QVERIFY(root.value("data"_L1).toString().isNull());
    QCOMPARE(root.value("uid"_L1).toInteger(), 513);
    QCOMPARE(root.value("int16"_L1).toInteger(), 42);
    QCOMPARE(root.value("megabyte"_L1).type(), PlistValue::Type::Data);
}

void tst_PropertyList::readsBinaryListFromFile()
{
    QTemporaryDir dir;
    QFile file(dir.filePath(u"com.apple.iApps.plist"_s));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(sampleBinaryPlist());
    file.close();
    const auto list = PropertyList::readFile(file.fileName());
    QVERIFY(list);
    QCOMPARE(list->root().value("names"_L1).at(0).toString(), u"plain"_s);
}

void tst_PropertyList::binarySharedObjectsAreReadOnce()
{
    // Each level refers twice to the level below: 2^40 paths, 41 objects.
    BinaryPlistWriter w;
    int level = w.addString(u"leaf"_s);
    for (int i = 0; i < 40; ++i)
        level = w.addArray({level, level});
    const int top = w.addDictionary({{w.addString(u"k"_s), level}});
    QElapsedTimer timer;
    timer.start();
    const auto list = PropertyList::readData(w.finish(top));
    QVERIFY(list);
    QVERIFY(timer.elapsed() < 1000);
    QCOMPARE(list->root().value("k"_L1).at(1).at(0).count(), 2);
}

void tst_PropertyList::refusesMalformedBinary_data()
{
    QTest::addColumn<QByteArray>("file");

    const QByteArray valid = sampleBinaryPlist();
    const qsizetype trailer = valid.size() - 32;
    const auto patched = [&](qsizetype at, const QByteArray &bytes) {
        QByteArray copy = valid;
        copy.replace(at, bytes.size(), bytes);
        return copy;
    };
    const quint64 tableOffset = qFromBigEndian<quint64>(valid.constData() + trailer + 24);

    QTest::newRow("header only") << QByteArray("bplist00");
    QTest::newRow("other version") << patched(6, "01");
    QTest::newRow("offset table past the end") << patched(trailer + 24, BinaryPlistWriter::bigEndian(quint64(valid.size()), 8));
    QTest::newRow("offset into the trailer") << patched(qsizetype(tableOffset), BinaryPlistWriter::bigEndian(quint64(trailer + 1), 2));
    QTest::newRow("too many objects") << patched(trailer + 8, BinaryPlistWriter::bigEndian(quint64(1) << 62, 8));
    QTest::newRow("top object out of range") << patched(trailer + 16, BinaryPlistWriter::bigEndian(1000, 8));
    QTest::newRow("reference width 3") << patched(trailer + 7, QByteArray(1, char(3)));
    QTest::newRow("offset width 0") << patched(trailer + 6, QByteArray(1, char(0)));

    {
        BinaryPlistWriter w;
        const int key = w.addString(u"k"_s);
        const int array = 1; // the next object: an array that contains itself
        QVERIFY(w.add(BinaryPlistWriter::header(0xA, 1) + w.refBytes({array})) == array);
        QTest::newRow("self-referencing array") << w.finish(w.addDictionary({{key, array}}));
    }
    {
        BinaryPlistWriter w; // two dictionaries that contain each other
        const int key = w.addString(u"k"_s);
        const int first = w.add(BinaryPlistWriter::header(0xD, 1) + w.refBytes({key, 2}));
        w.add(BinaryPlistWriter::header(0xD, 1) + w.refBytes({key, first}));
        QTest::newRow("reference cycle") << w.finish(first);
    }
    {
        BinaryPlistWriter w;
        const int key = w.addString(u"k"_s);
        const int array = w.add(BinaryPlistWriter::header(0xA, qsizetype(1) << 60));
        QTest::newRow("huge array count") << w.finish(w.addDictionary({{key, array}}));
    }
    {
        BinaryPlistWriter w;
        const int key = w.addString(u"k"_s);
        const int string = w.add(BinaryPlistWriter::header(0x6, 1000) + "ab");
        QTest::newRow("string longer than the file") << w.finish(w.addDictionary({{key, string}}));
    }
    {
        BinaryPlistWriter w;
        const int key = w.addString(u"k"_s);
        QTest::newRow("reference to a missing object") << w.finish(w.addDictionary({{key, 77}}));
    }
    {
        BinaryPlistWriter w;
        const int key = w.addInteger(1, 1);
        QTest::newRow("integer key") << w.finish(w.addDictionary({{key, key}}));
    }
    {
        BinaryPlistWriter w;
        const int key = w.addString(u"k"_s);
        QTest::newRow("set") << w.finish(w.addDictionary({{key, w.add(BinaryPlistWriter::header(0xC, 1) + char(key))}}));
    }
    {
        BinaryPlistWriter w;
        QTest::newRow("top-level array") << w.finish(w.addArray({w.addString(u"a"_s)}));
    }
    {
        BinaryPlistWriter w; // far larger than any preferences file
        const int data = w.add(BinaryPlistWriter::header(0x4, 5 << 20) + QByteArray(5 << 20, 'x'));
        QTest::newRow("too large") << w.finish(w.addDictionary({{w.addString(u"k"_s), data}}));
    }
    {
        BinaryPlistWriter w(2);
        int level = w.addString(u"leaf"_s);
        for (int i = 0; i < 600; ++i)
            level = w.addArray({level});
        QTest::newRow("nesting past the limit") << w.finish(w.addDictionary({{w.addString(u"k"_s), level}}));
    }
}

void tst_PropertyList::refusesMalformedBinary()
{
    QFETCH(QByteArray, file);
    QVERIFY(!PropertyList::readData(file));
}

void tst_PropertyList::refusesEveryBinaryTruncation()
{
    const QByteArray valid = sampleBinaryPlist();
    for (qsizetype length = 0; length < valid.size(); ++length)
        QVERIFY2(!PropertyList::readData(valid.left(length)), qPrintable(QString::number(length)));
}

QTEST_GUILESS_MAIN(tst_PropertyList)
#include "tst_PropertyList.moc"
