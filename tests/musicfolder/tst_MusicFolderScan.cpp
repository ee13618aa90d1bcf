// SPDX-License-Identifier: GPL-3.0-or-later
// A music folder made into a library: file URLs, the IDs a rescan keeps, the playlists it reads.

#include "FolderLibrary.h"
#include "M3uPlaylist.h"
#include "MusicFolderScan.h"
#include "SongLocation.h"

#include <QFile>
#include <QProcess>
#include <QSaveFile>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <climits>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <utime.h>

namespace {

void makeFile(const QString &path, const QByteArray &bytes = "not audio", qint64 modified = 1'600'000'000)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
    file.close();
    const utimbuf times{modified, modified};
    QCOMPARE(::utime(QFile::encodeName(path).constData(), &times), 0);
}

QMap<QByteArray, int> idsByPath(const QString &libraryPath)
{
    QMap<QByteArray, int> ids;
    const std::optional<FolderLibrary> library = FolderLibrary::read(libraryPath);
    for (const FolderLibrary::Track &track : library.value().tracks)
        ids.insert(track.path.sliced(track.path.lastIndexOf('/') + 1), track.trackId);
    return ids;
}

} // namespace

class tst_MusicFolderScan : public QObject
{
    Q_OBJECT

private slots:
    void fileUrlDecodesToThePath_data();
    void fileUrlDecodesToThePath();
    void rescanKeepsIds_data();
    void rescanKeepsIds();
    void playlistEntries_data();
    void playlistEntries();
    void leavesOutWhatItCannotServe();
    void badInput_data();
    void badInput();
};

void tst_MusicFolderScan::fileUrlDecodesToThePath_data()
{
    QTest::addColumn<QString>("path");
    QTest::addRow("plain") << "/music/song.mp3";
    QTest::addRow("spaces") << "/my music/a song.mp3";
    QTest::addRow("URL delimiters") << "/m/#1 100% & more? a+b=c;d.mp3";
    QTest::addRow("quotes and brackets") << "/m/\"it's\" <live> [1].mp3";
    QTest::addRow("non-Latin") << "/音楽/Пісня ελληνικά.mp3";
    QTest::addRow("decomposed accent") << QStringLiteral("/m/Cafe\u0301.mp3");
    QTest::addRow("escape-like text") << "/m/%41%2F.mp3";
}

void tst_MusicFolderScan::fileUrlDecodesToThePath()
{
    QFETCH(QString, path);
    const QByteArray url = FolderLibrary::fileUrl(path.toUtf8());
    QVERIFY2(url.startsWith("file:///") && !url.contains(' ') && !url.contains('#'), url.constData());
    QCOMPARE(SongLocation::filePath(QString::fromLatin1(url)), path);
}

void tst_MusicFolderScan::rescanKeepsIds_data()
{
    QTest::addColumn<QString>("change");
    QTest::addColumn<bool>("written");
    QTest::addColumn<int>("tagsRead");
    QTest::addRow("nothing") << "" << false << 0;
    QTest::addRow("a file added") << "add" << true << 1;
    QTest::addRow("a file rewritten") << "touch" << true << 1;
    QTest::addRow("a file removed") << "remove" << true << 0;
    QTest::addRow("a file renamed") << "rename" << true << 1;
    QTest::addRow("every file gone, as from a drive not mounted") << "empty" << false << 0;
    // The library kept in memory is not the file's any more: the file's IDs are the ones kept.
    QTest::addRow("the library edited, then a file added") << "edit" << true << 1;
}

void tst_MusicFolderScan::rescanKeepsIds()
{
    QFETCH(QString, change);
    QFETCH(bool, written);
    QFETCH(int, tagsRead);
    QTemporaryDir dir;
    const QString folder = dir.filePath("music"), library = dir.filePath("data/library.xml");
    makeFile(folder + "/b.mp3");
    makeFile(folder + "/sub/a.mp3");
    const MusicFolderScan::Report first = MusicFolderScan::run(folder, library);
    QVERIFY(first.written);
    QMap<QByteArray, int> before = idsByPath(library);
    QCOMPARE(before.size(), 2);

    if (change == "add")
        makeFile(folder + "/c.mp3");
    else if (change == "touch")
        makeFile(folder + "/b.mp3", "longer than before");
    else if (change == "remove")
        QVERIFY(QFile::remove(folder + "/b.mp3"));
    else if (change == "rename")
        QVERIFY(QFile::rename(folder + "/b.mp3", folder + "/d.mp3"));
    else if (change == "empty")
        QVERIFY(QFile::remove(folder + "/b.mp3") && QFile::remove(folder + "/sub/a.mp3"));
    if (change == "edit") {
        FolderLibrary edited = FolderLibrary::read(library).value();
        edited.tracks[1].trackId = 70000;
        QSaveFile file(library);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(edited.toXml()) > 0 && file.commit());
        before = idsByPath(library);
        makeFile(folder + "/c.mp3");
    }
    const MusicFolderScan::Report report = MusicFolderScan::run(folder, library, first.library);
    QCOMPARE(report.written, written);
    QCOMPARE(report.tagsRead, tagsRead);

    const QMap<QByteArray, int> after = idsByPath(library);
    for (auto it = after.begin(); it != after.end(); ++it) {
        if (before.contains(it.key()))
            QCOMPARE(it.value(), before.value(it.key()));
        else
            QVERIFY2(it.value() > std::max(before.value("a.mp3"), before.value("b.mp3")), it.key());
    }
    QCOMPARE(after.contains("b.mp3"), change != "remove" && change != "rename");
}

void tst_MusicFolderScan::playlistEntries_data()
{
    QTest::addColumn<QString>("playlistName");
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QStringList>("expected"); // relative to the folder
    const QStringList both{"sub/a.mp3", "b.mp3"};
    QTest::addRow("relative") << "sub/list.m3u" << QByteArray("a.mp3\n../b.mp3\n") << both;
    QTest::addRow("absolute") << "list.m3u" << QByteArray("ROOT/sub/a.mp3\nROOT/b.mp3") << both;
    QTest::addRow("file URLs") << "list.m3u" << QByteArray("file://ROOT/sub/a.mp3\nfile://ROOT/b.mp3\n") << both;
    QTest::addRow("BOM, CRLF and extended lines")
        << "list.m3u8" << QByteArray("\xEF\xBB\xBF#EXTM3U\r\n#EXTINF:12,A\r\nsub/a.mp3\r\n\r\nb.mp3\r\n") << both;
    QTest::addRow("Windows separators") << "list.m3u" << QByteArray("sub\\a.mp3\r\n") << QStringList{"sub/a.mp3"};
    QTest::addRow("Latin-1 .m3u") << "list.m3u" << QByteArray("caf\xE9.mp3\n") << QStringList{"café.mp3"};
    QTest::addRow("outside the folder")
        << "list.m3u" << QByteArray("../outside.mp3\n/etc/passwd\nsub/../../x.mp3\nb.mp3") << QStringList{"b.mp3"};
}

void tst_MusicFolderScan::playlistEntries()
{
    QFETCH(QString, playlistName);
    QFETCH(QByteArray, text);
    QFETCH(QStringList, expected);
    const QByteArray root = "/home/u/Music";
    QStringList found;
    for (const QByteArray &entry : M3uPlaylist::entries(text.replace("ROOT", root), root + '/' + playlistName.toUtf8(),
                                                        root))
        found.append(QString::fromUtf8(entry.sliced(root.size() + 1)));
    QCOMPARE(found, expected);
}

void tst_MusicFolderScan::leavesOutWhatItCannotServe()
{
    QTemporaryDir dir, outside;
    const QString folder = dir.filePath("music"), library = dir.filePath("data/library.xml");
    makeFile(folder + "/song.mp3");
    makeFile(folder + "/cover.jpg");
    makeFile(folder + "/LOUD.MP3"); // the handset's rule compares extensions as written
    makeFile(outside.filePath("secret.mp3"));
    QVERIFY(QFile::link(outside.filePath("secret.mp3"), folder + "/outside.mp3"));
    QVERIFY(QFile::link(folder + "/song.mp3", folder + "/again.mp3"));
    QVERIFY(QFile::link(folder, folder + "/loop"));
    makeFile(folder + "/" + QFile::decodeName("bad\xff name.mp3")); // decodes to U+FFFD; encodes back unchanged
    const QByteArray nonUtf8Name = QFile::encodeName(folder) + "/latin1-\xe9.mp3";
    QCOMPARE(::symlink("song.mp3", nonUtf8Name.constData()), 0);
    makeFile(folder + "/list.m3u", "list.m3u\nsong.mp3\nmissing.mp3\noutside.mp3\n");

    const MusicFolderScan::Report report = MusicFolderScan::run(folder, library);
    QVERIFY2(report.error.isEmpty(), qPrintable(report.error));
    QCOMPARE(report.songs, 3); // song, again (a link inside), bad<U+FFFD> name
    QCOMPARE(report.otherFiles, 2);
    QCOMPARE(report.nonUtf8Names, 1);
    QCOMPARE(report.linksNotFollowed, 2);
    QCOMPARE(report.untagged, 3);
    const FolderLibrary written = FolderLibrary::read(library).value();
    QCOMPARE(written.playlists.size(), 1);
    QCOMPARE(written.playlists[0].name, "list");
    QCOMPARE(written.playlists[0].trackIds, QList<int>{idsByPath(library).value("song.mp3")});

    QCOMPARE(::unlink(nonUtf8Name.constData()), 0); // beyond what QDir can name
    QVERIFY(QDir(folder).removeRecursively());
    const MusicFolderScan::Report gone = MusicFolderScan::run(folder, library);
    QVERIFY(!gone.error.isEmpty() && !gone.written);
    QCOMPARE(FolderLibrary::read(library)->tracks.size(), 3);
}

void tst_MusicFolderScan::badInput_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("songs"); // besides one plain file; -1: the scan fails and the library stands
    QTest::addColumn<int>("unreadable");
    QTest::addRow("a socket named song.mp3") << "socket" << 0 << 0;
    QTest::addRow("a device named song.mp3") << "device" << 0 << 0;
    QTest::addRow("a folder and a file past the longest path") << "long" << 0 << 2;
    QTest::addRow("the folder gone while tags are read") << "gone" << -1 << 0;
    // Last: opened, it would wait for a writer for ever, and only the watchdog would end the test.
    QTest::addRow("a FIFO named song.mp3") << "fifo" << 0 << 0;
}

void tst_MusicFolderScan::badInput()
{
    QFETCH(QString, kind);
    QFETCH(int, songs);
    QFETCH(int, unreadable);
    QTemporaryDir dir;
    const QString folder = dir.filePath("music"), library = dir.filePath("data/library.xml");
    makeFile(folder + "/plain.mp3");
    const MusicFolderScan::Report first = MusicFolderScan::run(folder, library);
    const QByteArray song = QFile::encodeName(folder) + "/song.mp3";
    // Beyond what QDir can remove.
    const auto removeAll = qScopeGuard([&] { QProcess::execute("rm", {"-rf", folder}); });
    MusicFolderScan::Progress progress;
    if (kind == "fifo") {
        QCOMPARE(::mkfifo(song.constData(), 0644), 0);
    } else if (kind == "socket") {
        QCOMPARE(::mknod(song.constData(), S_IFSOCK | 0644, 0), 0);
    } else if (kind == "device") {
        if (::mknod(song.constData(), S_IFCHR | 0644, makedev(1, 3)) != 0) // /dev/null's numbers
            QSKIP("No device nodes can be made here");
    } else if (kind == "long") {
        // Made a step at a time: nothing takes a whole path this long.
        int fd = ::open(QFile::encodeName(folder).constData(), O_DIRECTORY);
        const QByteArray name(200, 'd');
        for (qsizetype length = folder.size(); length + 1 + name.size() < PATH_MAX; length += 1 + name.size()) {
            QCOMPARE(::mkdirat(fd, name.constData(), 0755), 0);
            const int next = ::openat(fd, name.constData(), O_DIRECTORY);
            ::close(std::exchange(fd, next));
        }
        QCOMPARE(::mkdirat(fd, name.constData(), 0755), 0);
        QVERIFY(::close(::openat(fd, (name + ".mp3").constData(), O_CREAT | O_WRONLY, 0644)) == 0);
        ::close(fd);
    } else if (kind == "gone") {
        makeFile(folder + "/plain.mp3", "rewritten, so that its tags are read");
        progress = [&](int, int) { QDir(folder).removeRecursively(); };
    }
    const MusicFolderScan::Report report = MusicFolderScan::run(folder, library, first.library, progress);
    if (songs < 0) {
        QVERIFY(!report.error.isEmpty() && !report.written);
        QCOMPARE(FolderLibrary::read(library)->tracks.size(), 1);
        return;
    }
    QVERIFY2(report.error.isEmpty(), qPrintable(report.error));
    QCOMPARE(report.songs, 1 + songs);
    QCOMPARE(report.unreadable, unreadable);
}

QTEST_GUILESS_MAIN(tst_MusicFolderScan)
#include "tst_MusicFolderScan.moc"
