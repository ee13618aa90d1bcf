// SPDX-License-Identifier: GPL-3.0-or-later
// A folder of real songs, tagged by another program than the one that reads them, served by the real executable
// through --serve-folder in a home of its own, and talked to with curl as a handset talks to it.

#include "LoopbackClient.h"

#include <QDirIterator>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

namespace {

constexpr quint16 applicationPort = 4556;
const QString address = QStringLiteral("http://127.0.0.1:4556");
// Debian's python, whose mutagen writes the tags.
const QString python = QStringLiteral("/usr/bin/python3");

QByteArray run(const QString &program, const QStringList &arguments, int *exitCode = nullptr)
{
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(30000);
    if (exitCode)
        *exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return process.readAllStandardOutput() + process.readAllStandardError();
}

QByteArray curl(const QString &path)
{
    return run(QStringLiteral("curl"), {"--silent", "--max-time", "20", address + path});
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Track ID and file name of each song in a list.
QMap<QString, QString> songs(const QByteArray &list)
{
    static const QRegularExpression song(QStringLiteral("<trackid>(\\d+)</trackid><name>([^<]*)</name>"));
    QMap<QString, QString> found;
    for (const QRegularExpressionMatch &match : song.globalMatch(QString::fromUtf8(list)))
        found.insert(match.captured(2), match.captured(1));
    return found;
}

} // namespace

class tst_ServeFolder : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void servesTheFolderWithItsTagsAndPlaylist();
    void writesALibraryOtherReadersAccept();
    void followsChangesWithoutARestart();
    void laterLaunchHandsOverAnotherFolder();

private:
    void makeSong(const QString &relativePath, const QString &tagging = {});

    QTemporaryDir m_home;
    QString m_folder;
    QProcessEnvironment m_environment;
    QProcess m_pellisor;
};

void tst_ServeFolder::makeSong(const QString &relativePath, const QString &tagging)
{
    const QString path = relativePath.startsWith('/') ? relativePath : m_folder + '/' + relativePath;
    QVERIFY(QDir().mkpath(QFileInfo(path).path()));
    int status = 0;
    const QByteArray output = run(QStringLiteral("sox"), {"-n", "-r", "44100", "-c", "2", path, "synth", "0.5", "sine",
                                                          "440"}, &status);
    QVERIFY2(status == 0, output.constData());
    if (tagging.isEmpty())
        return;
    const QString script = QStringLiteral("import sys, mutagen, mutagen.easyid3, mutagen.id3, mutagen.wave\n"
                                          "path = sys.argv[1]\n") + tagging;
    const QByteArray pythonOutput = run(python, {"-c", script, path}, &status);
    QVERIFY2(status == 0, pythonOutput.constData());
}

void tst_ServeFolder::initTestCase()
{
    QVERIFY(m_home.isValid());
    m_folder = m_home.filePath("My Music");
    makeSong("Artist One/01 First Song.mp3",
             "t = mutagen.easyid3.EasyID3()\n"
             "t.update({'title': 'First Song', 'artist': 'Artist One', 'album': 'Álbum', 'tracknumber': '1/2'})\n"
             "t.save(path)\n");
    makeSong("Ünïcode & #1 + 100%.wav",
             "w = mutagen.wave.WAVE(path)\nw.add_tags()\nw.tags.add(mutagen.id3.TIT2(encoding=3, text='Wave Title'))\n"
             "w.save()\n");
    makeSong("untagged song.mp3");
    QFile playlist(m_folder + "/PlayBook.m3u");
    QVERIFY(playlist.open(QIODevice::WriteOnly));
    playlist.write("#EXTM3U\r\nArtist One/01 First Song.mp3\r\nuntagged song.mp3\r\n");
    playlist.close();
    // Long written, so that only a watch can tell of the changes below.
    for (QDirIterator it(m_folder, QDir::Files, QDirIterator::Subdirectories); it.hasNext();) {
        QFile file(it.next());
        QVERIFY(file.open(QIODevice::ReadWrite)
                && file.setFileTime(QDateTime(QDate(2020, 1, 1), QTime(12, 0)), QFileDevice::FileModificationTime));
    }

    m_environment = QProcessEnvironment::systemEnvironment();
    m_environment.insert(QStringLiteral("HOME"), m_home.path());
    m_environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_home.path());
    for (const char *name : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "DISPLAY", "WAYLAND_DISPLAY"})
        m_environment.remove(QString::fromLatin1(name));
    m_pellisor.setProcessEnvironment(m_environment);
    m_pellisor.start(QStringLiteral(PELLISOR_BINARY), {"--serve-folder", m_folder});
    QTRY_VERIFY_WITH_TIMEOUT(acceptsConnections(applicationPort), 20000);
}

void tst_ServeFolder::cleanupTestCase()
{
    m_pellisor.terminate();
    m_pellisor.waitForFinished();
}

void tst_ServeFolder::servesTheFolderWithItsTagsAndPlaylist()
{
    // The first list may come before the scan has written the library.
    QByteArray list;
    QTRY_COMPARE_WITH_TIMEOUT(songs(list = curl("/getSongList")).size(), 2, 20000);
    QVERIFY2(list.contains("<name>First Song</name><album>Album</album><artist>Artist One</artist>"
                           "<filename>01 First Song.mp3</filename>"),
             list.constData());
    const QMap<QString, QString> ids = songs(list);
    QVERIFY(ids.contains("untagged song"));
    QCOMPARE(curl("/getSong?xx=" + ids["First Song"]), fileBytes(m_folder + "/Artist One/01 First Song.mp3"));
    QCOMPARE(curl("/getSong?xx=" + ids["untagged song"]), fileBytes(m_folder + "/untagged song.mp3"));
}

void tst_ServeFolder::writesALibraryOtherReadersAccept()
{
    const QString library = m_home.filePath(".local/share/Pellisor/Music Folder.xml");
    QVERIFY(QFile::exists(library));
    int status = 0;
    QByteArray output = run(QStringLiteral("xmllint"), {"--noout", library}, &status);
    QVERIFY2(status == 0, output.constData());
    output = run(python, {"-c", "import plistlib, sys\n"
                                "tracks = plistlib.load(open(sys.argv[1], 'rb'))['Tracks'].values()\n"
                                "print(sorted(t['Name'] for t in tracks))", library}, &status);
    QCOMPARE(output.trimmed(), "['First Song', 'Wave Title', 'untagged song']");
}

void tst_ServeFolder::followsChangesWithoutARestart()
{
    // Edited in place, as an editor that does not replace the file writes it: no folder changes.
    QFile playlist(m_folder + "/PlayBook.m3u");
    QVERIFY(playlist.open(QIODevice::Append));
    playlist.write(QStringLiteral("Ünïcode & #1 + 100%.wav\r\n").toUtf8());
    playlist.close();
    QTRY_COMPARE_WITH_TIMEOUT(songs(curl("/getSongList")).size(), 3, 5000);

    QVERIFY(QFile::remove(m_folder + "/PlayBook.m3u"));
    makeSong("Later/new song.mp3", "t = mutagen.easyid3.EasyID3()\nt['title'] = 'Added Later'\nt.save(path)\n");
    QMap<QString, QString> ids;
    QTRY_COMPARE_WITH_TIMEOUT((ids = songs(curl("/getSongList"))).size(), 4, 5000);
    QVERIFY(ids.contains("Added Later"));
    QCOMPARE(curl("/getSong?xx=" + ids["Wave Title"]), fileBytes(m_folder + "/Ünïcode & #1 + 100%.wav"));
    QCOMPARE(curl("/getSong?xx=" + ids["Added Later"]), fileBytes(m_folder + "/Later/new song.mp3"));
}

void tst_ServeFolder::laterLaunchHandsOverAnotherFolder()
{
    const QString other = m_home.filePath("Other Music");
    makeSong(other + "/only song.mp3");
    QProcess later;
    later.setProcessEnvironment(m_environment);
    later.start(QStringLiteral(PELLISOR_BINARY), {"--serve-folder", other});
    QVERIFY(later.waitForFinished(20000) && later.exitStatus() == QProcess::NormalExit && later.exitCode() == 0);
    QMap<QString, QString> ids;
    QTRY_COMPARE_WITH_TIMEOUT((ids = songs(curl("/getSongList"))).keys(), QStringList{"only song"}, 10000);
    QCOMPARE(curl("/getSong?xx=" + ids["only song"]), fileBytes(other + "/only song.mp3"));
    QCOMPARE(m_pellisor.state(), QProcess::Running);
}

QTEST_GUILESS_MAIN(tst_ServeFolder)
#include "tst_ServeFolder.moc"
