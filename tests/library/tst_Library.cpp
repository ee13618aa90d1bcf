// SPDX-License-Identifier: GPL-3.0-or-later
// Finding the library, and the song list made from it.

#include "LibraryLocator.h"
#include "LibraryWriter.h"
#include "SecondThread.h"
#include "SongListBuilder.h"
#include "TrackRuns.h"
#include "XmlPropertyListReader.h"

#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(TestPlaylist)

namespace {

const QString song = u"file://localhost/M/a.mp3"_s;

QString songLine(const QString &id, const QString &name, const QString &fileName = u"a.mp3"_s,
                 const QString &album = u"Album"_s, const QString &artist = u"Artist"_s)
{
    return "<song><trackid>" + id + "</trackid><name>" + name + "</name><album>" + album + "</album><artist>" + artist
           + "</artist><filename>" + fileName + "</filename></song>\r\n";
}

QString listOf(const QStringList &lines)
{
    return "<songs>\r\n" + lines.join(QString()) + "</songs>";
}

TestTrack track(qint64 id, const QString &location = song)
{
    return {id, u"Song %1"_s.arg(id), u"Artist"_s, u"Album"_s, location};
}

auto list(const QList<TestTrack> &tracks, const QList<TestPlaylist> &playlists = {}, const QString &device = {})
{
    const std::optional<PropertyList> library = PropertyList::readData(libraryXml(tracks, playlists));
    TrackIndex index;
    const QByteArray body = library ? SongListBuilder::build(library->root(), device, index) : QByteArray();
    return std::pair(QString::fromLatin1(body), index);
}

QByteArray preferences(const QStringList &paths)
{
    QByteArray xml = "<plist version=\"1.0\"><dict><key>iTunesRecentDatabasePaths</key><array>";
    for (const QString &path : paths)
        xml += "<string>" + path.toHtmlEscaped().toUtf8() + "</string>";
    return xml + "</array></dict></plist>";
}

} // namespace

class tst_Library : public QObject
{
    Q_OBJECT

private slots:
    void findsTheLibrary_data()
    {
        QTest::addColumn<QByteArray>("preferences"); // empty: no preference file
        QTest::addColumn<QString>("expected");        // $HOME: the home folder
        BinaryPlistWriter w;
        const int key = w.string(u"iTunesRecentDatabasePaths"_s);
        const QByteArray binary = w.finish(w.dictionary({key}, {w.array({w.string(u"/srv/Müsic/lib.xml"_s)})}));
        const QString fallback = u"$HOME/Music/iTunes/iTunes Music Library.xml"_s;
        QTest::addRow("no preference file") << QByteArray() << fallback;
        QTest::addRow("XML preference") << preferences({u"/srv/a.xml"_s, u"/srv/b.xml"_s}) << u"/srv/a.xml"_s;
        QTest::addRow("binary preference") << binary << u"/srv/Müsic/lib.xml"_s;
        QTest::addRow("a path starting with ~") << preferences({u"~/Libraries/a.xml"_s}) << u"$HOME/Libraries/a.xml"_s;
        QTest::addRow("~ and a user name") << preferences({u"~bob/x.xml"_s}) << u"$HOMEbob/x.xml"_s;
        QTest::addRow("empty first entry") << preferences({u""_s, u"/srv/b.xml"_s}) << u""_s;
        QTest::addRow("not a property list") << "<plist><dict>"_ba << fallback;
    }
    void findsTheLibrary()
    {
        QFETCH(QByteArray, preferences);
        QFETCH(QString, expected);
        QTemporaryDir home;
        QVERIFY(preferences.isEmpty() || writeFile(home.filePath(u"Library/Preferences/com.apple.iApps.plist"_s),
                                                   preferences));
        QCOMPARE(LibraryLocator::libraryPath(home.path()), expected.replace(u"$HOME"_s, home.path()));
    }

    // A line for each playable song: texts with markup escaped, white space trimmed, and what is not ASCII made so,
    // a byte for each UTF-16 code unit; the file name decoded from the Location. Fixed expectations throughout.
    void writesALinePerPlayableSong_data()
    {
        QTest::addColumn<QString>("text"); // the name, album and artist
        QTest::addColumn<QString>("location");
        QTest::addColumn<QString>("line"); // null: not listed
        const auto file = [](const char *name, const QString &location, const QString &fileName) {
            QTest::addRow("%s", name) << u"x"_s << location
                                      << (fileName.isNull() ? fileName : songLine("1", "x", fileName, "x", "x"));
        };
        const auto text = [](const char *name, const QString &text, const QString &encoded) {
            QTest::addRow("%s", name) << text << song << songLine("1", encoded, "a.mp3", encoded, encoded);
        };
        for (const char *extension : {"mp3", "m4a", "wma", "wav", "aac"})
            file(extension, u"file://localhost/M/a."_s + extension, u"a."_s + extension);
        file("empty host", u"file:///Users/x/a.mp3"_s, u"a.mp3"_s);
        file("file name decoded", u"file://localhost/M/My%20Song%20&%20a+b.mp3"_s, u"My Song &amp; a+b.mp3"_s);
        file("file name decomposed", u"file://localhost/M/Alani%CC%88a.mp3"_s, u"Alani?a.mp3"_s);
        file("file name not UTF-8", u"file://localhost/M/%E9t%E9.mp3"_s, u"%E9t%E9.mp3"_s);
        file("flac", u"file://localhost/M/a.flac"_s, {});
        file("capital MP3", u"file://localhost/M/a.MP3"_s, {});
        file("extension also in a folder", u"file://localhost/M/x.mp3/a.mp3"_s, {});
        file("other host", u"file://server/M/a.mp3"_s, {});
        text("ASCII unchanged", u"\"It's\" (1976) #1"_s, u"\"It's\" (1976) #1"_s);
        text("markup, an entity", u"<b>Tom & Jerry</b> R&amp;B"_s, u"&lt;b&gt;Tom &amp; Jerry&lt;/b&gt; R&amp;amp;B"_s);
        text("ends trimmed", u" \t\r\nNight  Moves\u00a0\u2003"_s, u"Night  Moves"_s);
        text("é → e", u"Café ÜNÏCÖDÉ"_s, u"Cafe UNICODE"_s);
        text("letters with two marks → e, U", u"Việt Ǘ"_s, u"Viet U"_s);
        text("≠ → ?", u"a ≠ b"_s, u"a ? b"_s);
        text("Greek, Cyrillic → ?", u"Ωμέγα Жук"_s, u"????? ???"_s);
        text("outside the BMP → ??", u"🎵x"_s, u"??x"_s);
    }
    void writesALinePerPlayableSong()
    {
        QFETCH(QString, text);
        QFETCH(QString, location);
        QFETCH(QString, line);
        const auto [body, index] = list({{1, text, text, text, location}});
        QCOMPARE(body, listOf(line.isNull() ? QStringList() : QStringList{line}));
        QCOMPARE(index.location(1), line.isNull() ? QByteArray() : location.toUtf8());
    }

    void choosesTheDevicePlaylist_data()
    {
        QTest::addColumn<QList<TestPlaylist>>("playlists");
        QTest::addColumn<QString>("device");
        QTest::addColumn<QList<qint32>>("listed"); // of tracks 1 to 4, and 5, which is disabled
        using Lists = QList<TestPlaylist>;
        using Ids = QList<qint32>;
        const Ids all{1, 2, 3, 4};
        const TestPlaylist playbook{u"PlayBook"_s, {2, 3, 99}};
        const TestPlaylist blackberry{u"BlackBerry"_s, {1, 5}};
        const TestPlaylist library{u"Library"_s, {1, 2, 3, 4, 5}};
        QTest::addRow("no playlists") << Lists{} << "" << all;
        QTest::addRow("playbook in any case") << Lists{library, playbook} << "" << Ids{2, 3};
        QTest::addRow("bb10 takes blackberry") << Lists{playbook, blackberry} << "bb10" << Ids{1};
        QTest::addRow("bb10 falls back to playbook") << Lists{playbook} << "bb10" << Ids{2, 3};
        QTest::addRow("BB10 is not bb10") << Lists{blackberry, playbook} << "BB10" << Ids{2, 3};
        QTest::addRow("first match wins") << Lists{{u"playbook"_s, {4}}, playbook} << "" << Ids{4};
        QTest::addRow("empty: no filter") << Lists{{u"playbook"_s, {}}} << "" << all;
    }
    void choosesTheDevicePlaylist()
    {
        QFETCH(QList<TestPlaylist>, playlists);
        QFETCH(QString, device);
        const TestTrack disabled{5, {}, {}, {}, song, true};
        auto listed = list({track(1), track(2), track(3), track(4), disabled}, playlists, device).second.ids();
        std::sort(listed.begin(), listed.end());
        QTEST(listed, "listed");
    }

    // IDs are written as 32-bit decimals, 0 when there is none; of two tracks with one ID the index keeps the later.
    void writesIdsAs32BitDecimals()
    {
        const TestTrack withoutId{5, u"Song 5"_s, u"Artist"_s, u"Album"_s, song, false, false};
        const TestTrack unnamed{-3, std::nullopt, std::nullopt, u""_s, u"file://localhost/M/b.mp3"_s};
        const auto [body, index] = list({track(4294967297), withoutId, unnamed, track(1, u"file:///c.m4a"_s)});
        QCOMPARE(body, listOf({songLine("1", "Song 4294967297"), songLine("0", "Song 5"),
                               songLine("-3", "", "b.mp3", "Unknown Album", "Unknown Artist"),
                               songLine("1", "Song 1", "c.m4a")}));
        QCOMPARE(index.location(1), "file:///c.m4a"_ba);
        QCOMPARE(index.size(), 3);
    }

    // A library large enough to be read in two halves and listed by two threads: the list is the library's order
    // whoever lists what, and of two tracks with one ID the index keeps the later; a library that is used up (its
    // memory given back as the list goes) lists what one that is kept does. With no thread to be had (a process at
    // its limit) it is all read and listed all the same, here, one part after the other.
    void listsALargeLibrary_data()
    {
        QTest::addColumn<bool>("usedUp");
        QTest::addColumn<bool>("threads");
        QTest::addRow("kept") << false << true;
        QTest::addRow("used up") << true << true;
        QTest::addRow("no second thread") << true << false;
    }
    void listsALargeLibrary()
    {
        QFETCH(bool, usedUp);
        QFETCH(bool, threads);
        QList<TestTrack> tracks;
        QStringList lines;
        for (int id = 1; id <= 20000; ++id) {
            tracks.append(track(id));
            lines.append(songLine(QString::number(id), u"Song %1"_s.arg(id)));
        }
        tracks.append({3, u"Again"_s, u"Artist"_s, u"Album"_s, u"file://localhost/M/b.mp3"_s});
        lines.append(songLine(u"3"_s, u"Again"_s, u"b.mp3"_s));
        QTemporaryDir dir;
        const QString path = dir.filePath(u"library.xml"_s);
        const QByteArray xml = libraryXml(tracks);
        QVERIFY(writeFile(path, xml));
        QVERIFY(xml.size() >= XmlPropertyListReader::kTwoHalvesBytes);
        SecondThread::refuseThreads(!threads);
        const auto threadsAgain = qScopeGuard([] { SecondThread::refuseThreads(false); });
        std::optional<PropertyList> library = PropertyList::readFile(path);
        QVERIFY(library);
        TrackIndex index;
        const QByteArray body = usedUp ? SongListBuilder::buildPieces(std::move(*library), {}, index).join()
                                       : SongListBuilder::build(library->root(), {}, index);
        QCOMPARE(QString::fromLatin1(body), listOf(lines));
        QCOMPARE(index.size(), 20000);
        QCOMPARE(index.location(3), "file://localhost/M/b.mp3"_ba);
        QCOMPARE(index.location(9000), song.toUtf8());
    }

    // Two threads share a list's tracks: one whose run is done takes over the far half of what the other has left,
    // unless too little is left to be worth it. Each row: thread 1 lists `listed` of its run [1000, 3000), then
    // thread 0, done with [0, 1000), asks.
    void takesOverHalfOfTheOthersRun_data()
    {
        QTest::addColumn<qsizetype>("listed");
        QTest::addColumn<qsizetype>("takenFrom"); // -1: none
        QTest::addRow("half of what is left") << qsizetype(300) << qsizetype(2150);
        QTest::addRow("the least worth taking") << qsizetype(2000 - 2 * TrackRuns::kLeastTaken)
                                                << qsizetype(3000 - TrackRuns::kLeastTaken);
        QTest::addRow("too little left") << qsizetype(2000 - 2 * TrackRuns::kLeastTaken + 1) << qsizetype(-1);
    }
    void takesOverHalfOfTheOthersRun()
    {
        QFETCH(qsizetype, listed);
        QFETCH(qsizetype, takenFrom);
        TrackRuns runs(1000, 3000);
        QCOMPARE(runs.next(1, listed).end, 1000 + listed);
        QCOMPARE(runs.next(0, 5000).end, 1000);
        const std::optional<TrackRuns::Span> taken = runs.takeOver(0);
        QCOMPARE(taken ? taken->begin : -1, takenFrom);
        const qsizetype otherEnds = taken ? takenFrom : 3000;
        QCOMPARE(runs.next(1, 5000).end, otherEnds);
        if (taken)
            QCOMPARE(runs.next(0, 5000).end, 3000);
    }

    void listsTheRealLibraries_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("listed");
        QTest::addRow("Windows, CRLF") << "beetbox_beets__itunes_library_windows.xml" << 3;
        QTest::addRow("UTF-8 BOM") << "asciamanna_iTunesLibraryParser__sampleiTunesLibrary.xml" << 30;
        QTest::addRow("macOS, NFD names") << "jonaustin_lastfm-itunes__iTunes_Music_Library.xml" << 152;
        QTest::addRow("disabled tracks, file:///") << "rojosinalma_itunes_parser__jeff.xml" << 22;
        QTest::addRow("unusual key order") << "coolaj86_node-plist-stream__Library.xml" << 2;
        QTest::addRow("re-indented") << "liamks_libpytunes__Test_Library.xml" << 308;
    }
    void listsTheRealLibraries()
    {
        QFETCH(QString, file);
        const std::optional<PropertyList> library = PropertyList::readFile(PELLISOR_FIXTURES_DIR "/" + file);
        QVERIFY(library);
        TrackIndex index;
        const QByteArray body = SongListBuilder::build(library->root(), {}, index);
        QTEST(int(body.count("<song>")), "listed");
    }
};

QTEST_APPLESS_MAIN(tst_Library)
#include "tst_Library.moc"
