// The command line of the real executable: what ends at once, and a library chosen on it, also by a later launch.

#include "LibraryPreferences.h"

#include <QProcess>
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
    void start(QProcess &process, const QStringList &arguments, const QString &platform = {});

    QTemporaryDir m_home;
};

void tst_CommandLine::start(QProcess &process, const QStringList &arguments, const QString &platform)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("HOME", m_home.path());
    environment.insert("XDG_CONFIG_HOME", m_home.filePath(".config"));
    environment.insert("XDG_RUNTIME_DIR", m_home.path());
    if (!platform.isEmpty())
        environment.insert("QT_QPA_PLATFORM", platform);
    process.setProcessEnvironment(environment);
    process.start(PELLISOR_BINARY, arguments);
    QVERIFY(process.waitForStarted());
}

void tst_CommandLine::endsAtOnce_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("standardOutput");
    QTest::addColumn<QByteArray>("standardError");

    QTest::addRow("help") << QStringList{"--help"} << 0 << QByteArray("Usage: pellisor [options]\n") << QByteArray();
    QTest::addRow("version") << QStringList{"--version"} << 0 << QByteArray("pellisor " PELLISOR_VERSION "\n")
                             << QByteArray();
    QTest::addRow("unknown option") << QStringList{"--bogus"} << 2 << QByteArray()
                                    << QByteArray("pellisor: Unknown option 'bogus'.\nUsage: pellisor [options]\n");
    QTest::addRow("library naming a folder") << QStringList{"--library", "/"} << 2 << QByteArray()
                                             << QByteArray("pellisor: / is a folder, not an iTunes library file.\n");
}

void tst_CommandLine::endsAtOnce()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, standardOutput);
    QFETCH(QByteArray, standardError);
    QProcess process;
    start(process, arguments, "no-such-platform"); // a window system would be the end of it
    QVERIFY(process.waitForFinished());
    QCOMPARE(process.exitCode(), exitCode);
    QVERIFY(process.readAllStandardOutput().startsWith(standardOutput));
    QVERIFY(process.readAllStandardError().startsWith(standardError));
}

void tst_CommandLine::libraryChosenByEachLaunch()
{
    const QString first = m_home.filePath("First & <odd> library.xml");
    const QString second = m_home.filePath("second.xml");
    for (const QString &path : {first, second}) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    QProcess running;
    start(running, {"--library", first});
    QTRY_COMPARE_WITH_TIMEOUT(LibraryPreferences::recentDatabasePath(m_home.path()), first, 10000);

    QProcess later;
    start(later, {"--library", second});
    QVERIFY(later.waitForFinished());
    QCOMPARE(later.exitCode(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(LibraryPreferences::recentDatabasePath(m_home.path()), second, 10000);
    running.terminate();
    QVERIFY(running.waitForFinished());
}

QTEST_GUILESS_MAIN(tst_CommandLine)
#include "tst_CommandLine.moc"
