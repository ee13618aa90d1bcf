// SPDX-License-Identifier: GPL-3.0-or-later
// Choosing a library writes the iTunes preference as iTunes would; undoing it leaves iTunes's own entries.

#include "LibraryPreferences.h"
#include "PropertyList.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

using Paths = QStringList;

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
    QTest::addColumn<Paths>("choices");
    QTest::addColumn<Paths>("chosen"); // the paths after the choices; empty: refused, file untouched
    QTest::addColumn<Paths>("restored");
    QTest::addColumn<QByteArray>("written"); // a piece of the new file

    const auto xml = [](const QByteArray &paths) {
        return "<plist version=\"1.0\"><dict><key>Other</key><real>0.5</real>"
               "<key>iTunesRecentDatabasePaths</key><array>" + paths + "</array></dict></plist>";
    };
    QFile binary(PELLISOR_FIXTURES_DIR "/../../../fuzz/corpus/binary_plist/every-type.plist");
    QVERIFY(binary.open(QIODevice::ReadOnly));
    const QString odd = QStringLiteral("/m/a & <b> \"é\" 😀.xml");
    QTest::addRow("no file: created") << QByteArray() << Paths{"/m/A"} << Paths{"/m/A"} << Paths{} << QByteArray();
    QTest::addRow("iTunes's path stays second") << xml("<string>~/B</string>") << Paths{"/m/A"} << Paths{"/m/A", "~/B"}
                                                << Paths{"~/B"} << QByteArray();
    QTest::addRow("already there: first, once, and back")
        << xml("<string>~/B</string><string>/m/A</string>") << Paths{"/m/A"} << Paths{"/m/A", "~/B"}
        << Paths{"~/B", "/m/A"} << QByteArray();
    QTest::addRow("a second choice replaces the first") << xml("<string>~/B</string>") << Paths{"/m/A", "/m/C"}
                                                        << Paths{"/m/C", "~/B"} << Paths{"~/B"} << QByteArray();
    QTest::addRow("binary with every type, rewritten as XML")
        << binary.readAll() << Paths{odd} << Paths{odd} << Paths{} << QByteArray("<date>2013-04-05T06:07:08Z</date>");
    QTest::addRow("corrupt: left untouched")
        << QByteArray("<plist><dict><key>") << Paths{"/m/A"} << Paths{} << Paths{} << QByteArray();
    QTest::addRow("control character: refused") << xml({}) << Paths{"/m/\x01"} << Paths{} << Paths{} << QByteArray();
}

void tst_LibraryPreferences::chooseThenUseDefault()
{
    QFETCH(QByteArray, before);
    QFETCH(Paths, choices);
    QFETCH(Paths, chosen);
    QFETCH(Paths, restored);
    QFETCH(QByteArray, written);
    QTemporaryDir home;
    const QString path = LibraryPreferences::preferencesFilePath(home.path());
    QFile file(path);
    if (!before.isNull()) {
        QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()) && file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(before), before.size());
        file.close();
    }
    const QLatin1StringView key("iTunesRecentDatabasePaths");
    // The recent paths, and how many other entries the file holds: none of them may go.
    const auto entries = [key](const std::optional<PropertyList> &list) {
        const PlistValue array = list ? list->root().value(key) : PlistValue();
        Paths texts;
        for (qsizetype i = 0; i < array.count(); ++i)
            texts.append(array.at(i).toString());
        return std::pair(texts, list ? list->root().count() - list->root().contains(key) : 0);
    };
    const qsizetype others = entries(PropertyList::readData(before)).second;
    const auto now = [&] { return entries(PropertyList::readFile(path)); };

    std::optional<LibraryPreferences::RecordedLibrary> recorded;
    QString error;
    for (const QString &choice : choices)
        recorded = LibraryPreferences::recordLibrary(home.path(), choice, recorded, &error);
    if (chosen.isEmpty()) {
        QVERIFY(!recorded && error.contains(path));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), before);
        return;
    }
    QVERIFY2(recorded, qPrintable(error));
    QCOMPARE(now(), std::pair(chosen, others));
    QVERIFY(file.open(QIODevice::ReadOnly) && file.readAll().contains(written));
    QCOMPARE(LibraryPreferences::recentDatabasePath(home.path()), chosen.first());
    QVERIFY(LibraryPreferences::forgetLibrary(home.path(), *recorded, &error));
    QCOMPARE(now(), std::pair(restored, others));
}

QTEST_APPLESS_MAIN(tst_LibraryPreferences)
#include "tst_LibraryPreferences.moc"
