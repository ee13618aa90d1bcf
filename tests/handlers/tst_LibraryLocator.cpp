#include "LibraryError.h"
#include "LibraryLocator.h"
#include "LibraryWriter.h"
#include "TrackIndex.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString notFound = QStringLiteral("Couldn't find iTunes Library XML file. Do you have iTunes installed?");

void writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

QByteArray preferencesXml(const QStringList &paths)
{
    QByteArray xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
                     "<key>iTunesRecentDatabasePaths</key><array>";
    for (const QString &path : paths)
        xml += "<string>" + xmlEscaped(path) + "</string>";
    return xml + "</array></dict></plist>";
}

// An ASCII string object of a binary property list, its length written as a one-byte integer object.
QByteArray asciiObject(const QByteArray &text)
{
    return QByteArray("\x5F\x10", 2) + char(text.size()) + text;
}

// A binary property list of one dictionary: {"iTunesRecentDatabasePaths": [path]}, as macOS writes preferences.
QByteArray preferencesBinary(const QByteArray &path)
{
    const QByteArray key = "iTunesRecentDatabasePaths";
    QByteArray bytes = "bplist00";
    QList<int> offsets;
    offsets << bytes.size(); // 0: the dictionary
    bytes += char(0xD1);
    bytes += char(1); // key object
    bytes += char(2); // value object
    offsets << bytes.size(); // 1: the key
    bytes += asciiObject(key);
    offsets << bytes.size(); // 2: the array
    bytes += char(0xA1);
    bytes += char(3);
    offsets << bytes.size(); // 3: the path
    bytes += asciiObject(path);
    const int tableOffset = bytes.size();
    for (int offset : offsets)
        bytes += char(offset);
    QByteArray trailer(32, '\0');
    trailer[6] = 1; // offset size
    trailer[7] = 1; // object reference size
    trailer[15] = char(offsets.size());
    trailer[23] = 0; // top object
    trailer[31] = char(tableOffset);
    return bytes + trailer;
}

} // namespace

class tst_LibraryLocator : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void findsTheLibrary_data();
    void findsTheLibrary();
    void readsTheBinaryPreferences();
    void refusesWhatItCannotLoad_data();
    void refusesWhatItCannotLoad();
    void looksUpNothingBeforeTheFirstList();

private:
    QString m_home;
    std::unique_ptr<QTemporaryDir> m_homeDir;
};

void tst_LibraryLocator::init()
{
    m_homeDir = std::make_unique<QTemporaryDir>();
    m_home = m_homeDir->path();
}

void tst_LibraryLocator::findsTheLibrary_data()
{
    QTest::addColumn<QByteArray>("preferences"); // empty: no preference file
    QTest::addColumn<QString>("expected");        // relative to the home folder

    QTest::addRow("no preferences") << QByteArray() << "/Music/iTunes/iTunes Music Library.xml";
    QTest::addRow("empty list") << preferencesXml({}) << "/Music/iTunes/iTunes Music Library.xml";
    QTest::addRow("no such key") << QByteArray("<plist><dict><key>x</key><true/></dict></plist>")
                                 << "/Music/iTunes/iTunes Music Library.xml";
    QTest::addRow("not an array") << QByteArray("<plist><dict><key>iTunesRecentDatabasePaths</key>"
                                                "<string>~/a.xml</string></dict></plist>")
                                  << "/Music/iTunes/iTunes Music Library.xml";
    QTest::addRow("tilde") << preferencesXml({"~/Libraries/main.xml", "~/other.xml"}) << "/Libraries/main.xml";
    QTest::addRow("tilde and a user name") << preferencesXml({"~bob/x.xml"}) << "bob/x.xml";
    QTest::addRow("broken preferences") << QByteArray("<plist><dict>") << "/Music/iTunes/iTunes Music Library.xml";
}

void tst_LibraryLocator::findsTheLibrary()
{
    QFETCH(QByteArray, preferences);
    QFETCH(QString, expected);
    if (!preferences.isEmpty())
        writeFile(m_home + "/Library/Preferences/com.apple.iApps.plist", preferences);
    QCOMPARE(LibraryLocator::libraryPath(m_home), m_home + expected);
}

void tst_LibraryLocator::readsTheBinaryPreferences()
{
    writeFile(m_home + "/Library/Preferences/com.apple.iApps.plist", preferencesBinary("/srv/music/lib.xml"));
    QCOMPARE(LibraryLocator::libraryPath(m_home), QString("/srv/music/lib.xml"));
}

void tst_LibraryLocator::refusesWhatItCannotLoad_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QString>("reason"); // %1: the library path

    QTest::addRow("no library") << "none" << notFound;
    QTest::addRow("only the second path exists") << "second" << notFound;
    QTest::addRow("empty first path") << "empty" << notFound;
    QTest::addRow("a folder") << "folder" << "Unable to load iTunes Library XML file. (%1)";
    QTest::addRow("not a property list") << "text" << "Unable to load iTunes Library XML file. (%1)";
    QTest::addRow("an array at the top") << "array" << "Unable to load iTunes Library XML file. (%1)";
}

void tst_LibraryLocator::refusesWhatItCannotLoad()
{
    QFETCH(QString, setup);
    QFETCH(QString, reason);
    const QString preferences = m_home + "/Library/Preferences/com.apple.iApps.plist";
    const QString library = m_home + "/Music/iTunes/iTunes Music Library.xml";
    if (setup == "second") {
        writeFile(preferences, preferencesXml({m_home + "/missing.xml", library}));
        writeFile(library, libraryXml({}));
    } else if (setup == "empty") {
        writeFile(preferences, preferencesXml({""}));
        writeFile(library, libraryXml({}));
    } else if (setup == "folder") {
        QDir().mkpath(library);
    } else if (setup == "text") {
        writeFile(library, "Artist,Title\n");
    } else if (setup == "array") {
        writeFile(library, "<plist version=\"1.0\"><array/></plist>");
    }

    try {
        LibraryLocator::getSongDictionary(m_home);
        QFAIL("loaded");
    } catch (const LibraryError &error) {
        QCOMPARE(error.reason(), reason.contains("%1") ? reason.arg(library) : reason);
    }
}

void tst_LibraryLocator::looksUpNothingBeforeTheFirstList()
{
    QVERIFY(TrackIndex().getSongLocation("1").isNull());
}

QTEST_APPLESS_MAIN(tst_LibraryLocator)
#include "tst_LibraryLocator.moc"
