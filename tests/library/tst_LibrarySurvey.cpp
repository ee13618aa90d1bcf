// SPDX-License-Identifier: GPL-3.0-or-later
// What the window says of the library: read or why not, its songs, and which of their files are missing; read
// itself, or taken from the song list a handset just got.

#include "LibrarySurvey.h"
#include "LibraryWriter.h"
#include "MusicLibrary.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThreadPool>

using State = LibraryStatus::State;
Q_DECLARE_METATYPE(State)

namespace {

// The list a handset asking now would get.
SongList songListOf(const QString &homePath)
{
    QThreadPool workers;
    MusicLibrary library(homePath, workers);
    QSignalSpy made(&library, &MusicLibrary::songListMade);
    library.requestSongList({}, &library, [](const SongList &) {});
    return made.wait() ? made.at(0).at(0).value<SongList>() : SongList();
}

} // namespace

class tst_LibrarySurvey : public QObject
{
    Q_OBJECT

private slots:
    void read_data();
    void read();
    void unchangedFileIsNotReadAgain();
};

void tst_LibrarySurvey::read_data()
{
    QTest::addColumn<QByteArray>("library"); // null: none
    QTest::addColumn<QStringList>("files");  // below the home folder, each a short song
    QTest::addColumn<QString>("userMusicFolder");
    QTest::addColumn<State>("state");
    QTest::addColumn<QList<qsizetype>>("counts"); // tracks, songs, missing files

    // Track 3 is not a song for the handset; tracks 1 and 2 are, below a Music Folder of another computer's.
    const auto copied = [](const QString &playable) {
        QByteArray xml = libraryXml({{1, "One", {}, {}, "file://localhost/C:/Music/a%20b.mp3"},
                                     {2, "Two", {}, {}, "file://localhost/C:/Music/Album/" + playable},
                                     {3, "Three", {}, {}, "file://localhost/C:/Music/c.ogg"}});
        return xml.replace("<key>Tracks</key>", "<key>Music Folder</key><string>file://localhost/C:/Music/</string>"
                                                "<key>Tracks</key>");
    };
    QTest::addRow("no library") << QByteArray() << QStringList{} << "" << State::NotFound << QList<qsizetype>{0, 0, 0};
    QTest::addRow("not a property list") << QByteArray("MP3 data") << QStringList{} << "" << State::Unreadable
                                         << QList<qsizetype>{0, 0, 0};
    QTest::addRow("every file missing") << copied("two.mp3") << QStringList{} << "" << State::Read
                                        << QList<qsizetype>{3, 2, 2};
    QTest::addRow("beside the library, in its music folder's copy")
        << copied("two.mp3") << QStringList{"Music/iTunes/Music/a b.mp3"} << "" << State::Read
        << QList<qsizetype>{3, 2, 1};
    QTest::addRow("in the folder the user chose, spelled decomposed")
        << copied(QStringLiteral("Zo%C3%AB.mp3")) << QStringList{"Chosen/Album/Zo\u0065\u0308.mp3"} << "Chosen"
        << State::Read << QList<qsizetype>{3, 2, 1};
    QTest::addRow("an empty file is not a song") << copied("two.mp3") << QStringList{"Music/iTunes/Music/a b.mp3",
                                                                                     "Music/iTunes/Music/Album/"}
                                                 << "" << State::Read << QList<qsizetype>{3, 2, 1};
}

void tst_LibrarySurvey::read()
{
    QFETCH(QByteArray, library);
    QFETCH(QStringList, files);
    QFETCH(QString, userMusicFolder);
    QFETCH(State, state);
    QFETCH(QList<qsizetype>, counts);
    QTemporaryDir home;
    const QString path = home.filePath("Music/iTunes/iTunes Music Library.xml");
    QVERIFY(library.isNull() || writeFile(path, library));
    for (const QString &file : files)
        QVERIFY(file.endsWith(u'/') ? QDir().mkpath(home.filePath(file)) && writeFile(home.filePath(file + "two.mp3"), {})
                                    : writeFile(home.filePath(file), "song"));

    const QString chosen = userMusicFolder.isEmpty() ? QString() : home.filePath(userMusicFolder);
    const SongList list = songListOf(home.path());
    for (const LibraryStatus &status :
         {LibrarySurvey::read(home.path(), chosen), LibrarySurvey::fromList(list, home.path(), chosen)}) {
        QCOMPARE(status.path, path);
        QCOMPARE(status.state, state);
        QCOMPARE((QList<qsizetype>{status.tracks, status.songs, status.missingFiles}), counts);
    }
}

void tst_LibrarySurvey::unchangedFileIsNotReadAgain()
{
    QTemporaryDir home;
    const QString path = home.filePath("Music/iTunes/iTunes Music Library.xml");
    QVERIFY(writeFile(path, libraryXml({{1, "One", {}, {}, locationOf(home.filePath("gone.mp3"))}})));
    LibraryStatus first = LibrarySurvey::read(home.path(), {});
    QCOMPARE(first.missingFiles, 1);
    first.missingFiles = 42; // what a second read would not find
    const SongList list = songListOf(home.path());
    QCOMPARE(LibrarySurvey::read(home.path(), {}, first).missingFiles, 42);
    QCOMPARE(LibrarySurvey::fromList(list, home.path(), {}, first).missingFiles, 42);
    QCOMPARE(LibrarySurvey::read(home.path(), home.filePath("Other"), first).missingFiles, 1);
    QVERIFY(writeFile(path, libraryXml({})));
    QCOMPARE(LibrarySurvey::read(home.path(), {}, first).tracks, 0);
    QCOMPARE(LibrarySurvey::fromList(songListOf(home.path()), home.path(), {}, first).tracks, 0);
}

QTEST_GUILESS_MAIN(tst_LibrarySurvey)
#include "tst_LibrarySurvey.moc"
