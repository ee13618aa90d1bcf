// SPDX-License-Identifier: GPL-3.0-or-later
// Which library is served, and a preference file that stands in the way of recording it.

#include "LibraryChoice.h"
#include "LibraryPreferences.h"
#include "LibraryWriter.h"

#include <QTemporaryDir>
#include <QTest>

class tst_LibraryChoice : public QObject
{
    Q_OBJECT

private slots:
    // Pellisor's own settings, away from the user's.
    void initTestCase() { qputenv("XDG_CONFIG_HOME", m_config.path().toUtf8()); }
    void chooseThenUseDefault_data();
    void chooseThenUseDefault();
    void unreadablePreferencesMovedAside_data();
    void unreadablePreferencesMovedAside();

private:
    QTemporaryDir m_config;
};

void tst_LibraryChoice::chooseThenUseDefault_data()
{
    QTest::addColumn<QString>("library"); // below the home folder
    QTest::addColumn<QString>("refusal"); // empty: chosen

    QTest::addRow("a file") << "Copied/Library.xml" << QString();
    QTest::addRow("a folder") << "Copied" << "is a folder, not an iTunes library file.";
    QTest::addRow("nothing there") << "Gone.xml" << "There is no file at";
}

void tst_LibraryChoice::chooseThenUseDefault()
{
    QFETCH(QString, library);
    QFETCH(QString, refusal);
    QTemporaryDir home;
    QVERIFY(writeFile(home.filePath("Copied/Library.xml"), libraryXml({})));
    LibraryChoice choice(home.path());
    QString error;
    QVERIFY(choice.useDefaultLibrary(&error)); // the settings are shared between the rows

    const QString path = home.filePath(library);
    QCOMPARE(choice.chooseLibrary(path, &error), refusal.isEmpty());
    QVERIFY2(error.contains(refusal), qPrintable(error));
    QCOMPARE(LibraryPreferences::recentDatabasePath(home.path()),
             refusal.isEmpty() ? std::optional(path) : std::nullopt);
    QCOMPARE(choice.chosenLibrary(), refusal.isEmpty() ? path : QString());

    QVERIFY(choice.useDefaultLibrary(&error));
    QCOMPARE(choice.chosenLibrary(), QString());
    QVERIFY(!LibraryPreferences::recentDatabasePath(home.path()));
}

void tst_LibraryChoice::unreadablePreferencesMovedAside_data()
{
    QTest::addColumn<bool>("folder");
    QTest::addColumn<QStringList>("alreadyAside"); // names beside it that must stay as they are
    QTest::addColumn<QString>("aside");

    QTest::addRow("corrupt file") << false << QStringList{} << ".unreadable";
    QTest::addRow("a folder") << true << QStringList{} << ".unreadable";
    QTest::addRow("moved aside before") << false << QStringList{".unreadable", ".unreadable-2"} << ".unreadable-3";
}

void tst_LibraryChoice::unreadablePreferencesMovedAside()
{
    QFETCH(bool, folder);
    QFETCH(QStringList, alreadyAside);
    QFETCH(QString, aside);
    QTemporaryDir home;
    const QString preferences = LibraryPreferences::preferencesFilePath(home.path());
    const QByteArray corrupt = "<plist><dict><key>";
    QVERIFY(folder ? QDir().mkpath(preferences) : writeFile(preferences, corrupt));
    for (const QString &name : alreadyAside)
        QVERIFY(writeFile(preferences + name, name.toUtf8()));
    const QString library = home.filePath("Library.xml");
    QVERIFY(writeFile(library, libraryXml({})));

    LibraryChoice choice(home.path());
    QString error;
    QVERIFY(!choice.chooseLibrary(library, &error));
    QVERIFY(LibraryPreferences::isUnreadable(home.path()));

    QCOMPARE(LibraryPreferences::moveAside(home.path(), &error), preferences + aside);
    QVERIFY(!LibraryPreferences::isUnreadable(home.path()));
    QVERIFY(folder ? QFileInfo(preferences + aside).isDir() : QFile(preferences + aside).exists());
    for (const QString &name : alreadyAside) {
        QFile kept(preferences + name);
        QVERIFY(kept.open(QIODevice::ReadOnly) && kept.readAll() == name.toUtf8());
    }
    QVERIFY2(choice.chooseLibrary(library, &error), qPrintable(error));
    QCOMPARE(LibraryPreferences::recentDatabasePath(home.path()), library);
    QVERIFY(choice.useDefaultLibrary(&error));
}

QTEST_GUILESS_MAIN(tst_LibraryChoice)
#include "tst_LibraryChoice.moc"
