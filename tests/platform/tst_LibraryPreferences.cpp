// Choosing a library writes the iTunes preference as iTunes would; undoing it leaves iTunes's own entries.

#include "LibraryPreferences.h"
#include "PropertyList.h"
#include "PropertyListWriter.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

using Recorded = std::optional<LibraryPreferences::RecordedLibrary>;

namespace {

QByteArray preferencesXml(const QStringList &paths)
{
    PropertyListWriter writer;
    writer.beginDictionary();
    writer.writeKey("Other");
    writer.writeString("kept");
    writer.writeKey("iTunesRecentDatabasePaths");
    writer.beginArray();
    for (const QString &path : paths)
        writer.writeString(path);
    writer.endArray();
    writer.endDictionary();
    return writer.finish();
}

// Everything but the recent paths, as text: equal texts mean equal entries.
QByteArray otherEntries(const PlistValue &root)
{
    PropertyListWriter writer;
    writer.beginDictionary();
    for (qsizetype i = 0; i < root.count(); ++i) {
        if (root.keyAt(i) != QLatin1StringView("iTunesRecentDatabasePaths")) {
            writer.writeKey(root.keyAt(i));
            writer.writeValue(root.valueAt(i));
        }
    }
    writer.endDictionary();
    return writer.finish();
}

} // namespace

class tst_LibraryPreferences : public QObject
{
    Q_OBJECT

private slots:
    void chooseThenUseDefault_data();
    void chooseThenUseDefault();
};

void tst_LibraryPreferences::chooseThenUseDefault_data()
{
    QTest::addColumn<QByteArray>("before"); // null: no file
    QTest::addColumn<QStringList>("choices");
    QTest::addColumn<QStringList>("chosen"); // the paths after the choices; empty: refused, file untouched
    QTest::addColumn<QStringList>("restored");

    QFile binary(PELLISOR_FIXTURES_DIR "/../../../fuzz/corpus/binary_plist/every-type.plist");
    QVERIFY(binary.open(QIODevice::ReadOnly));
    const QString odd = QStringLiteral("/m/a & <b> \"é\" 😀.xml");
    QTest::addRow("no file: created") << QByteArray() << QStringList{"/m/A.xml"} << QStringList{"/m/A.xml"}
                                      << QStringList{};
    QTest::addRow("iTunes's path stays second") << preferencesXml({"~/B.xml"}) << QStringList{"/m/A.xml"}
                                                << QStringList{"/m/A.xml", "~/B.xml"} << QStringList{"~/B.xml"};
    QTest::addRow("already there: first, once, and back") << preferencesXml({"~/B.xml", "/m/A.xml"})
                                                          << QStringList{"/m/A.xml"}
                                                          << QStringList{"/m/A.xml", "~/B.xml"}
                                                          << QStringList{"~/B.xml", "/m/A.xml"};
    QTest::addRow("a second choice replaces the first") << preferencesXml({"~/B.xml"})
                                                        << QStringList{"/m/A.xml", "/m/C.xml"}
                                                        << QStringList{"/m/C.xml", "~/B.xml"} << QStringList{"~/B.xml"};
    QTest::addRow("binary with every type, rewritten as XML") << binary.readAll() << QStringList{odd}
                                                              << QStringList{odd} << QStringList{};
    QTest::addRow("corrupt: left untouched") << QByteArray("<?xml?><plist><dict><key>") << QStringList{"/m/A.xml"}
                                             << QStringList{} << QStringList{};
    QTest::addRow("control character: refused") << preferencesXml({}) << QStringList{"/m/\x01.xml"}
                                                 << QStringList{} << QStringList{};
}

void tst_LibraryPreferences::chooseThenUseDefault()
{
    QFETCH(QByteArray, before);
    QFETCH(QStringList, choices);
    QFETCH(QStringList, chosen);
    QFETCH(QStringList, restored);
    QTemporaryDir home;
    const QString path = LibraryPreferences::preferencesFilePath(home.path());
    QFile file(path);
    if (!before.isNull()) {
        QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(before) == before.size());
        file.close();
    }
    const auto paths = [&] {
        QStringList texts;
        const std::optional<PropertyList> now = PropertyList::readFile(path);
        const PlistValue array = now->root().value(QLatin1StringView("iTunesRecentDatabasePaths"));
        for (qsizetype i = 0; i < array.count(); ++i)
            texts.append(array.at(i).toString());
        return texts;
    };

    Recorded recorded;
    QString error;
    for (const QString &choice : choices)
        recorded = LibraryPreferences::recordLibrary(home.path(), choice, recorded, &error);
    if (chosen.isEmpty()) {
        QVERIFY(!recorded);
        QVERIFY2(error.contains(path), qPrintable(error));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), before);
        return;
    }
    QVERIFY2(recorded, qPrintable(error));
    QCOMPARE(paths(), chosen);
    if (const std::optional<PropertyList> original = PropertyList::readData(before))
        QCOMPARE(otherEntries(PropertyList::readFile(path)->root()), otherEntries(original->root()));
    QCOMPARE(LibraryPreferences::recentDatabasePath(home.path()), chosen.first());
    QVERIFY(LibraryPreferences::forgetLibrary(home.path(), *recorded, &error));
    QCOMPARE(paths(), restored);
}

QTEST_APPLESS_MAIN(tst_LibraryPreferences)
#include "tst_LibraryPreferences.moc"
