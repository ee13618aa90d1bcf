// Finding the library, and the song list made from it.

#include "HandOver.h"
#include "LibraryLocator.h"
#include "LibraryWriter.h"
#include "SongListBuilder.h"

#include <QTemporaryDir>
#include <QTest>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

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
    SongListBuilder::TrackIndex index;
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

    // A large library is listed by two threads, and one that runs out of tracks takes over some of the other's:
    // here the first half's tracks take far longer to list than the second's. The list is the library's order
    // whoever lists what, and of two tracks with one ID the index keeps the later. A list from a library that is
    // used up gives back the memory of the tracks it has listed as it goes, and lists what it would list otherwise;
    // one from a library that is kept leaves it as it was.
    void listsALargeLibraryFromItsFile()
    {
        QList<TestTrack> tracks;
        QStringList lines;
        for (int id = 1; id <= 12000; ++id) {
            const QString name = u"Song %1 "_s.arg(id) + QString(id <= 6000 ? 300 : 1, u'&');
            tracks.append({id, name, u"Artist"_s, u"Album"_s, song});
            lines.append(songLine(QString::number(id), QString(name).replace(u"&"_s, u"&amp;"_s).trimmed()));
        }
        tracks.append({3, u"Again"_s, u"Artist"_s, u"Album"_s, u"file://localhost/M/b.mp3"_s});
        lines.append(songLine(u"3"_s, u"Again"_s, u"b.mp3"_s));
        QTemporaryDir dir;
        QVERIFY(writeFile(dir.filePath(u"library.xml"_s), libraryXml(tracks)));
        const std::optional<PropertyList> library = PropertyList::readFile(dir.filePath(u"library.xml"_s));
        QVERIFY(library);
        for (const auto afterwards : {SongListBuilder::Afterwards::Kept, SongListBuilder::Afterwards::UsedUp}) {
            SongListBuilder::TrackIndex index;
            const QByteArrayList body = SongListBuilder::buildPieces(library->root(), {}, index, afterwards);
            QCOMPARE(QString::fromLatin1(body.join()), listOf(lines));
            QCOMPARE(index.size(), 12000);
            QCOMPARE(index.location(3), "file://localhost/M/b.mp3"_ba);
            QCOMPARE(index.location(9000), song.toUtf8());
        }
    }

    // At its process limit, where no thread can be started, a library large enough to be read in two halves and
    // listed by two threads is read and listed all the same. Root is never held to that limit, so the process that
    // reads it gives its rights up.
    void listsALargeLibraryWithNoThreadToSpare()
    {
#ifdef PELLISOR_TSAN
        QSKIP("ThreadSanitizer lets no thread start in a child forked after threads had run, as this one is");
#endif
        QList<TestTrack> tracks;
        for (int id = 1; id <= 12000; ++id)
            tracks.append({id, u"Song %1 "_s.arg(id) + QString(400, u'x'), u"Artist"_s, u"Album"_s, song});
        QTemporaryDir dir;
        const QString path = dir.filePath(u"library.xml"_s);
        QVERIFY(writeFile(path, libraryXml(tracks)));
        QVERIFY(QFile::setPermissions(dir.path(), QFile::permissions(dir.path()) | QFile::ReadOther | QFile::ExeOther));
        const pid_t child = ::fork();
        if (child == 0) { // never returns: it is not the test
            ::alarm(60);
            const rlimit noMore{1, 1};
            if ((::getuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
                || ::setrlimit(RLIMIT_NPROC, &noMore) != 0)
                ::_exit(2);
            try {
                const auto library = PropertyList::readFile(path);
                SongListBuilder::TrackIndex index;
                ::_exit(library && SongListBuilder::build(library->root(), {}, index).count("<song>") == 12000 ? 0 : 1);
            } catch (...) {
                ::_exit(3);
            }
        }
        int status = -1;
        QCOMPARE(::waitpid(child, &status, 0), child);
        QVERIFY2(WIFEXITED(status) && WEXITSTATUS(status) == 0, qPrintable(QString::number(status)));
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
        SongListBuilder::TrackIndex index;
        const QByteArray body = SongListBuilder::build(library->root(), {}, index);
        QTEST(int(body.count("<song>")), "listed");
    }
};

QTEST_APPLESS_MAIN(tst_Library)
#include "tst_Library.moc"
