// SPDX-License-Identifier: GPL-3.0-or-later
#include "DictionaryScan.h"
#include "LibraryWriter.h"
#include "PropertyList.h"
#include "SecondThread.h"
#include "XmlPropertyListReader.h"

#include <QDeadlineTimer>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtTest>

#include <thread>

using namespace Qt::StringLiterals;

namespace {

QByteArray plist(const QByteArray &body) // of the top dictionary
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>" + body + "</dict>\n</plist>\n";
}

// The values of the document, read whole or (as readFile's arrive) in small pieces, in one pass or in two halves;
// "refused" if the reader refuses it. The text depends on the values only, not on where their nodes lie, and ends in
// " (taken over)" when the first half's reader took over values that the second half's had completed.
QByteArray treeRead(const QByteArray &document, bool whileArriving,
                    const std::optional<XmlPropertyListReader::Halves> &halves)
{
    PropertyListDocument doc;
    doc.arrayBytes = whileArriving ? QByteArray(document.size(), '\xFF') : document;
    doc.bytes = doc.arrayBytes.data(); // detached: the feeder writes into it
    doc.size = document.size();
    ArrivingBytes arriving;
    doc.arriving = whileArriving ? &arriving : nullptr;
    std::thread feeder([&, target = doc.arrayBytes.data()] {
        for (qsizetype done = 0; whileArriving && done < document.size() && !arriving.isCancelled();) {
            const qsizetype piece = std::min<qsizetype>(4096, document.size() - done);
            std::memcpy(target + done, document.constData() + done, size_t(piece));
            arriving.arrive(done += piece, false);
        }
        arriving.arrive(document.size(), true);
    });
    const bool parsed = XmlPropertyListReader::read(doc, halves);
    arriving.cancel();
    feeder.join();
    const std::function<QByteArray(quint32)> values = [&](quint32 index) {
        const PlistNode &node = doc.node(index);
        QByteArray text = QByteArray::number(node.kind) + '/' + QByteArray::number(node.flags);
        if (node.kind != PlistNode::Dictionary && node.kind != PlistNode::Array)
            return text + '=' + QByteArray::number(node.inlineBits()) + ' ';
        for (quint32 i = 0; i < node.b; ++i)
            text += (i ? "" : "[") + values(node.a + i);
        return text + "] ";
    };
    return parsed ? values(doc.root) + (doc.laterNodes.empty() ? "" : " (taken over)") : "refused";
}

// A document in which `atTheSplit` begins where the second half looks for its start, and that place.
std::pair<QByteArray, qsizetype> splitAt(const QByteArray &before, const QByteArray &atTheSplit,
                                         const QByteArray &after)
{
    return {plist(before + atTheSplit + after), plist({}).indexOf("</dict>") + before.size()};
}

// {U+FEFF "k": U+FEFF "Ünïcödé", "shared": S, "again": S, "doubling": D}: S is one dictionary referred to twice, D
// forty arrays that each refer twice to the one below, 2^40 paths through 41 objects.
QByteArray sampleBinaryPlist()
{
    BinaryPlistWriter w;
    const int text = w.string(u"\uFEFFÜnïcödé"_s);
    const int shared = w.dictionary({w.string(u"leaf"_s)}, {w.add("\x10\xC8")});
    int doubling = w.string(u"bottom"_s);
    for (int i = 0; i < 40; ++i)
        doubling = w.array({doubling, doubling});
    const QList<int> keys{w.string(u"\uFEFFk"_s), w.string(u"shared"_s), w.string(u"again"_s), w.string(u"doubling"_s)};
    return w.finish(w.dictionary(keys, {text, shared, shared, doubling}));
}

// A binary list holding under "k" the value that `value` adds after the key, object 0.
QByteArray binaryWith(const std::function<int(BinaryPlistWriter &)> &value)
{
    BinaryPlistWriter w;
    const int key = w.string(u"k"_s);
    return w.finish(w.dictionary({key}, {value(w)}));
}

} // namespace

class tst_PropertyList : public QObject
{
    Q_OBJECT

private slots:
    void checksWellFormedness_data()
    {
        QTest::addColumn<QByteArray>("document");
        QTest::addColumn<bool>("valid");
        const auto refused = [](const char *name, const QByteArray &document) {
            QTest::addRow("%s", name) << document << false;
        };
        const QByteArray megabyte(1 << 20, 'x'); // more than the reader ever waits for
        const QByteArray large = plist("<key>k</key><string>v &#38; w</string>"_ba.repeated(40000));
        const QByteArray open = "<key>k</key><dict>", close = "</dict>";
        QTest::addRow("nesting at the limit") << plist(open.repeated(511) + close.repeated(511)) << true;
        QTest::addRow("nesting past the limit") << plist(open.repeated(512) + close.repeated(512)) << false;
        QTest::addRow("many elements") << large << true;
        QTest::addRow("a string longer than the read-ahead") << plist("<key>k</key><string>" + megabyte + "</string>")
                                                             << true;
        QTest::addRow("a comment longer than the read-ahead") << plist("<!--" + megabyte + "-->") << true;
        QTest::addRow("many elements, cut short") << large.chopped(12) << false;
        // Entities are never declared, so never expanded: a billion laughs is refused at its DOCTYPE.
        QByteArray laughs = "<!DOCTYPE plist [<!ENTITY l0 \"lol\">";
        for (int i = 1; i <= 9; ++i)
            laughs += "<!ENTITY l" + QByteArray::number(i) + " \""
                      + ("&l" + QByteArray::number(i - 1) + ";").repeated(10) + "\">";
        QTest::addRow("billion laughs") << laughs + "]><plist><dict><key>&l9;</key><true/></dict></plist>" << false;
        QTest::addRow("empty internal subset") << "<!DOCTYPE plist []><plist><dict/></plist>"_ba << false;
        const std::pair<const char *, QByteArray> keys[] = {
            {"undeclared entity", "&nbsp;"}, {"bare ampersand", "R & B"}, {"reference to NUL", "&#0;"},
            {"raw less-than", "a < b"}, {"control character", "\x01"}, {"invalid UTF-8", "caf\xe9"},
            {"overlong UTF-8", "\xc0\xaf"}, {"UTF-8 surrogate", "\xed\xa0\x80"}, {"UTF-8 cut short", "\xe2\x99"}};
        for (const auto &[name, key] : keys)
            refused(name, plist("<key>" + key + "</key><true/>"));

        using W = BinaryPlistWriter;
        const QByteArray valid = sampleBinaryPlist();
        const auto trailer = [&](qsizetype at, quint64 value) {
            return QByteArray(valid).replace(valid.size() - 32 + at, 8, W::bigEndian(value, 8));
        };
        refused("too many objects", trailer(8, quint64(1) << 62));
        refused("top object out of range", trailer(16, 1000));
        refused("offset table past the end", trailer(24, valid.size()));
        refused("array that holds itself", binaryWith([](W &w) { return w.add(W::marker(0xA, 1, {1})); }));
        refused("arrays that hold each other", binaryWith([](W &w) {
            w.add(W::marker(0xA, 1, {2}));
            return w.add(W::marker(0xA, 1, {1}));
        }));
        refused("reference to no object", binaryWith([](W &) { return 77; }));
        refused("huge array", binaryWith([](W &w) { return w.add(W::marker(0xA, quint64(1) << 60)); }));
        refused("huge string", binaryWith([](W &w) { return w.add(W::marker(0x5, quint64(1) << 62)); }));
        refused("string past the end", binaryWith([](W &w) { return w.add(W::marker(0x6, 1000) + "ab"); }));
        refused("over the size limit",
                binaryWith([](W &w) { return w.add(W::marker(0x4, 5 << 20) + QByteArray(5 << 20, 'x')); }));
        refused("nesting past the limit, binary", binaryWith([](W &w) {
            int level = w.string(u"leaf"_s);
            for (int i = 0; i < 600; ++i)
                level = w.array({level});
            return level;
        }));
    }
    // Read whole, and (XML) read while the bytes arrive, in one pass or in two halves, the answer is the same.
    void checksWellFormedness()
    {
        QFETCH(QByteArray, document);
        QFETCH(bool, valid);
        QCOMPARE(PropertyList::readData(document).has_value(), valid);
        if (document.startsWith("bplist"))
            return;
        const QByteArray values = treeRead(document, false, std::nullopt);
        QCOMPARE(values != "refused", valid);
        const XmlPropertyListReader::Halves threeFifths{document.size() / 5 * 3, {}};
        for (const bool whileArriving : {false, true}) {
            QCOMPARE(treeRead(document, whileArriving, std::nullopt), values);
            QCOMPARE(treeRead(document, whileArriving, threeFifths).replace(" (taken over)", ""), values);
        }
    }

    // Each way the two halves can meet, at a place and a time the row sets: the second half starts where the row
    // says, and hands over that many bytes on, whenever the first half's reader arrives (-1: no second thread to be
    // had). The values are those of one pass; whether the first half's reader took the second half's over is the
    // row's too. Handing over as soon as the first half's reader arrives, as the server does, is left to the rows
    // above and the fuzz target: what the second half has read by then is up to the clock.
    void handsOverBetweenHalves_data()
    {
        QTest::addColumn<QByteArray>("document");
        QTest::addColumn<qsizetype>("from");
        QTest::addColumn<qsizetype>("handOverAt");
        QTest::addColumn<QByteArray>("outcome"); // "taken over", "dropped" or "refused"
        constexpr qsizetype noThread = -1, atTheEnd = std::numeric_limits<qsizetype>::max();
        const auto row = [](const char *name, const std::pair<QByteArray, qsizetype> &split, qsizetype handOverAt,
                            const char *outcome) {
            QTest::addRow("%s", name) << split.first << split.second << handOverAt << QByteArray(outcome);
        };
        const QByteArray entry = "<key>k</key><dict><key>n</key><integer>1</integer></dict>";
        const QByteArray tail = "<key>t</key><string>v &#38; w</string>"_ba.repeated(30);
        const QByteArray tracks = "<key>tracks</key><dict>";
        const QByteArray lists = "</dict><key>lists</key><array>"
                                 + "<dict><key>items</key><array><dict><key>i</key><integer>1</integer></dict>"
                                   "<dict/></array></dict>"_ba.repeated(20) + "</array>";
        row("the second done first", splitAt({}, entry, tail), atTheEnd, "taken over");
        row("no second thread", splitAt(tracks, entry, tail + lists), noThread, "taken over");
        // In the second entry's <dict>, after its <key>n</key>.
        row("handed over mid-element", splitAt(tracks, entry, entry + tail + lists), entry.size() + 30, "taken over");
        row("on past the dictionary", splitAt(tracks, entry, tail + lists), atTheEnd, "taken over");
        row("handed over in what follows the dictionary", splitAt(tracks, entry, tail + lists),
            entry.size() + tail.size() + 40, "taken over");
        const QByteArray inArray = "<key>a</key><array><dict>";
        row("failing after its dictionary", splitAt(inArray, entry, "</dict><string>s</string></array>"), atTheEnd,
            "taken over");
        row("no start: in a comment", splitAt({}, "<!--" + entry + "</x -->", tail), atTheEnd, "dropped");
        row("no start: in CDATA", splitAt({}, "<key>s</key><string><![CDATA[" + entry + "</x]]></string>", tail),
            atTheEnd, "dropped");
        row("no start: after the root", {plist({}) + "<!--" + entry + "-->", plist({}).size()}, atTheEnd, "dropped");
        row("keys in an array after it", splitAt(inArray, entry, "</dict><key>x</key><true/></array>"), atTheEnd,
            "refused");
        row("a key without a value, then a value",
            splitAt("<key>t</key><dict>", entry + "<key>z</key>", "</dict><true/></dict>"), atTheEnd, "refused");
        row("where a value is due", splitAt("<key>v</key>", entry + "<key>z</key>", {}), atTheEnd, "refused");
        row("malformed", splitAt({}, entry, "<key>i</key><integer>x</integer>" + tail), atTheEnd, "refused");
        row("a key without a value", splitAt({}, entry + "<key>z</key>", {}), atTheEnd, "refused");
        const QByteArray open = "<key>k</key><dict>", close = "</dict>";
        row("nesting at the limit",
            splitAt(open.repeated(300), open.repeated(210) + entry + close.repeated(210), close.repeated(300)),
            atTheEnd, "taken over");
        row("nesting past the limit",
            splitAt(open.repeated(300), open.repeated(211) + entry + close.repeated(211), close.repeated(300)),
            atTheEnd, "refused");
    }
    void handsOverBetweenHalves()
    {
        QFETCH(QByteArray, document);
        QFETCH(qsizetype, from);
        QFETCH(qsizetype, handOverAt);
        QFETCH(QByteArray, outcome);
        constexpr qsizetype noThread = -1;
        XmlPropertyListReader::Halves halves{from, {}};
        if (handOverAt >= 0)
            halves.handOverAt = handOverAt == std::numeric_limits<qsizetype>::max() ? handOverAt : from + handOverAt;
        SecondThread::refuseThreads(handOverAt == noThread);
        const auto threadsAgain = qScopeGuard([] { SecondThread::refuseThreads(false); });
        const QByteArray values = treeRead(document, false, std::nullopt);
        for (const bool whileArriving : {false, true}) {
            const QByteArray halved = treeRead(document, whileArriving, halves);
            if (outcome == "refused")
                QCOMPARE(halved, outcome);
            else
                QCOMPARE(halved, values + (outcome == "taken over" ? " (taken over)" : ""));
        }
    }

    // A key is found however the file spells it, the first of two equal keys is the one that counts, and a key
    // beyond ASCII is compared as text: one key at a time, and several in one pass by a scan of entries.
    void findsValuesByKey()
    {
        const auto list = PropertyList::readData(plist("<key>track</key><dict><key>Name</key><string>first</string>"
                                                       "<key>N&#97;me</key><string>second</string>"
                                                       "<key>\xC3\x9Cn\xC3\xAF</key><integer>3</integer>"
                                                       "<key>K&#105;nd</key><integer>4</integer></dict>"));
        QVERIFY(list);
        const std::array keys{"Name"_L1, "\xDC" "n\xEF"_L1, "Kind"_L1, "Size"_L1};
        const auto found = DictionaryScan(list->root()).values<4>(0, 1, keys);
        const PlistValue track = list->root().value("track"_L1);
        for (size_t k = 0; k < keys.size(); ++k)
            QCOMPARE(track.value(keys[k]).toUtf8(), found[k].toUtf8());
        QCOMPARE(found[0].toString(), u"first"_s);
        QCOMPARE(found[1].toInteger(), 3);
        QCOMPARE(found[2].toInteger(), 4);
        QVERIFY(found[3].isAbsent());
    }

    void refusesEveryTruncation_data()
    {
        QTest::addColumn<QByteArray>("document");
        QTest::addColumn<QString>("text");
        QTest::addRow("XML") << ("\xEF\xBB\xBF" + plist("<key>\uFEFFk</key><string>\uFEFFx<![CDATA[<y>]]>&#x41;"
            "</string><!--c--><key>n</key><integer>-12</integer><key>l</key><array><true /><false/><real>1.5</real>"
            "<date>2015-05-11T15:27:14Z</date><data>AAAA</data><dict/></array>")).chopped(1) << u"\uFEFFx<y>A"_s;
        QTest::addRow("binary") << sampleBinaryPlist() << u"\uFEFFÜnïcödé"_s;
    }
    void refusesEveryTruncation()
    {
        QFETCH(QByteArray, document);
        QFETCH(QString, text);
        const auto list = PropertyList::readData(document);
        QVERIFY(list);
        QCOMPARE(list->root().keyAt(0), u"\uFEFFk"_s);
        QCOMPARE(list->root().valueAt(0).toString(), text);
        QCOMPARE(list->root().valueAt(0).toUtf8(), text.toUtf8());
        for (qsizetype length = 0; length < document.size(); ++length)
            QVERIFY2(!PropertyList::readData(document.left(length)), qPrintable(QString::number(length)));
    }

    // Asked to stop, a read gives up with nothing rather than with part of the values.
    void stopsWhenAsked()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"Library.xml"_s);
        QVERIFY(writeFile(path, plist("<key>k</key><dict><key>n</key><integer>1</integer></dict>")));
        std::atomic<bool> stop = true;
        QVERIFY(!PropertyList::readFile(path, &stop));
        stop = false;
        QVERIFY(PropertyList::readFile(path, &stop));
    }

    void refusesAFileOverTheSizeLimitUnread()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"Library.xml"_s);
        QVERIFY(writeFile(path, plist("<key>k</key><string>")) && QFile::resize(path, qint64(3) << 30)); // sparse
        const auto bytesRead = [] { // by this process so far
            QFile io(u"/proc/self/io"_s); // its first line: "rchar: <bytes>"
            return io.open(QIODevice::ReadOnly) ? io.readLine().mid(6).trimmed().toLongLong() : -1;
        };
        const qint64 before = bytesRead();
        QVERIFY(!PropertyList::readFile(path));
        QVERIFY2(bytesRead() - before < 4096, "read some of what it refuses");
    }

    // Another thread keeps rewriting the file in place, growing and shrinking it. A read may meet two versions spliced
    // (no reader can rule that out), but never reads past its buffer (the sanitizer build tells) nor crashes.
    void readsWholeListsOrNothingWhileTheFileChanges()
    {
        const QByteArray versions[] = {plist("<key>k</key><string>v</string>"_ba.repeated(50)),
                                       plist("<key>k</key><string>v</string>"_ba.repeated(20000))};
        QTemporaryDir dir;
        const QString path = dir.filePath(u"library.xml"_s);
        QVERIFY(writeFile(path, versions[0]));
        std::atomic<bool> stop = false;
        std::thread writer([&] {
            QFile file(path);
            for (int round = 1; !stop && file.open(QIODevice::ReadWrite | QIODevice::Unbuffered); ++round) {
                file.write(versions[round % 2]);
                file.resize(versions[round % 2].size());
                file.close();
            }
        });
        const auto stopWriting = qScopeGuard([&] {
            stop = true;
            writer.join();
        });
        const QDeadlineTimer deadline(10000); // a safety net only
        for (int read = 0; read < 100 && !deadline.hasExpired(); ++read) {
            if (const auto list = PropertyList::readFile(path))
                QVERIFY(list->root().count() <= 20000);
        }
    }
};

QTEST_GUILESS_MAIN(tst_PropertyList)
#include "tst_PropertyList.moc"
