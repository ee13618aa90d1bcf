// SPDX-License-Identifier: GPL-3.0-or-later
// The real executable's command line: what ends at once, and a library chosen by each launch.

#include "LibraryPreferences.h"

#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

class tst_CommandLine : public QObject
{
    Q_OBJECT

private slots:
    void endsAtOnce_data();
    void endsAtOnce();
    void libraryChosenByEachLaunch();

private:
    // With a platform that does not exist, opening a window or a display would end the process.
    void start(QProcess &process, const QStringList &arguments, const QString &platform = "offscreen")
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char *variable : {"HOME", "XDG_CONFIG_HOME", "XDG_RUNTIME_DIR"})
            environment.insert(variable, m_home.path());
        environment.insert("QT_QPA_PLATFORM", platform);
        process.setProcessEnvironment(environment);
        process.start(PELLISOR_BINARY, arguments);
    }

    QTemporaryDir m_home;
};

void tst_CommandLine::endsAtOnce_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("output");
    QTest::addColumn<QByteArray>("errors");
    QTest::addColumn<QByteArray>("preferences"); // the preference file's bytes; null: none

    const QByteArray none;
    QTest::addRow("help") << QStringList{"--help"} << 0 << QByteArray("Usage: pellisor [options]\n") << none << none;
    QTest::addRow("version") << QStringList{"--version"} << 0 << QByteArray("pellisor " PELLISOR_VERSION "\n") << none
                             << none;
    QTest::addRow("unknown option") << QStringList{"--bogus"} << 2 << none
                                    << QByteArray("pellisor: Unknown option 'bogus'.\nUsage: pellisor [options]\n")
                                    << none;
    QTest::addRow("library naming a folder") << QStringList{"--library", "/"} << 2 << none
                                             << QByteArray("pellisor: / is a folder, not an iTunes library file.\n")
                                             << none;
    QTest::addRow("serving no folder") << QStringList{"--serve-folder", "/no/such"} << 2 << none
                                       << QByteArray("pellisor: There is no folder at /no/such.\n") << none;
    // The choice cannot be recorded: that must not pass for success, and the file must stay as it is. Any file will
    // do for a library here: nothing is read from it.
    QTest::addRow("library, with a preference file that cannot be read")
        << QStringList{"--library", PELLISOR_BINARY} << 1 << none
        << LibraryPreferences::preferencesFilePath(m_home.path()).toUtf8().prepend("pellisor: ") << QByteArray("{");
}

void tst_CommandLine::endsAtOnce()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, output);
    QFETCH(QByteArray, errors);
    QFETCH(QByteArray, preferences);
    const QString preferencesPath = LibraryPreferences::preferencesFilePath(m_home.path());
    const auto removePreferences = qScopeGuard([&] { QFile::remove(preferencesPath); });
    QFile file(preferencesPath);
    QVERIFY(preferences.isNull() || (QDir().mkpath(QFileInfo(file).path()) && file.open(QIODevice::WriteOnly)
                                     && file.write(preferences) == preferences.size()));
    file.close();
    QProcess process;
    start(process, arguments, preferences.isNull() ? "no-such-platform" : "offscreen");
    QVERIFY(process.waitForFinished());
    QCOMPARE(process.exitCode(), exitCode);
    QVERIFY(process.readAllStandardOutput().startsWith(output));
    QVERIFY(process.readAllStandardError().startsWith(errors));
    QFile left(preferencesPath);
    QCOMPARE(left.open(QIODevice::ReadOnly) ? left.readAll() : QByteArray(), preferences);
}

void tst_CommandLine::libraryChosenByEachLaunch()
{
    const QStringList libraries{m_home.filePath("First & <odd> library.xml"), m_home.filePath("second.xml")};
    QProcess running;
    QProcess later;
    for (QProcess *launch : {&running, &later}) {
        const QString library = libraries[launch == &later];
        QFile file(library);
        QVERIFY(file.open(QIODevice::WriteOnly));
        start(*launch, {"--library", library});
        QTRY_COMPARE_WITH_TIMEOUT(LibraryPreferences::recentDatabasePath(m_home.path()), library, 10000);
    }
    QTRY_COMPARE(later.state(), QProcess::NotRunning); // it handed its library to the running one and left
    QCOMPARE(later.exitCode(), 0);
    running.terminate();
    QVERIFY(running.waitForFinished());
}

QTEST_GUILESS_MAIN(tst_CommandLine)
#include "tst_CommandLine.moc"
