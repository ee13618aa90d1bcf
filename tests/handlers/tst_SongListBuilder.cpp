#include "AsciiText.h"
#include "LibraryWriter.h"
#include "SongListBuilder.h"
#include "SongLocation.h"

#include <QDir>
#include <QTest>

Q_DECLARE_METATYPE(TestPlaylist)

namespace {

const QString song = QStringLiteral("file://localhost/Music/a.mp3");

QString songLine(const QString &id, const QString &name, const QString &album, const QString &artist,
                 const QString &fileName)
{
    return "<song><trackid>" + id + "</trackid><name>" + name + "</name><album>" + album + "</album><artist>" + artist
           + "</artist><filename>" + fileName + "</filename></song>\r\n";
}

QString listOf(const QStringList &lines)
{
    return "<songs>\r\n" + lines.join(QString()) + "</songs>";
}

struct Listing
{
    QString body;
    SongListBuilder::TrackIndex index;
};

Listing list(const QByteArray &xml, const QString &device = {})
{
    const std::optional<PropertyList> library = PropertyList::readData(xml);
    if (!library)
        qFatal("test library does not parse");
    Listing listing;
    listing.body = QString::fromLatin1(SongListBuilder::build(library->root(), device, listing.index));
    return listing;
}

QStringList listedIds(const QString &body)
{
    QStringList ids;
    qsizetype at = 0;
    while ((at = body.indexOf("<trackid>", at)) >= 0) {
        at += 9;
        ids.append(body.mid(at, body.indexOf('<', at) - at));
    }
    return ids;
}

TestTrack track(qint64 id, const QString &location = song)
{
    return TestTrack{id, QStringLiteral("Song %1").arg(id), QStringLiteral("Artist"), QStringLiteral("Album"),
                     location};
}

} // namespace

class tst_SongListBuilder : public QObject
{
    Q_OBJECT

private slots:
    void writesOneLinePerSong();
    void listsAnEmptyLibraryAsSeventeenBytes();
    void skipsWhatTheHandsetCannotPlay_data();
    void skipsWhatTheHandsetCannotPlay();
    void encodesTexts_data();
    void encodesTexts();
    void decodesFileNames_data();
    void decodesFileNames();
    void choosesTheDevicePlaylist_data();
    void choosesTheDevicePlaylist();
    void keepsTheLaterOfTwoTracksWithOneIdInTheIndex();
    void writesIdsAs32BitDecimals();
    void listsALargeLibraryInTheLibrarysOrder_data();
    void listsALargeLibraryInTheLibrarysOrder();
    void listsTheRealLibraries_data();
    void listsTheRealLibraries();
};

void tst_SongListBuilder::writesOneLinePerSong()
{
    TestTrack unnamed{7, std::nullopt, std::nullopt, QString(""), "file:///Music/Zo%C3%AB/b%20c.m4a"};
    const Listing listing = list(libraryXml({track(42), unnamed}));
    QCOMPARE(listing.body, listOf({songLine("42", "Song 42", "Album", "Artist", "a.mp3"),
                                   songLine("7", "", "Unknown Album", "Unknown Artist", "b c.m4a")}));
    QCOMPARE(QString::fromUtf8(listing.index.location(42)), song);
    QCOMPARE(listing.index.location(7), QByteArray("file:///Music/Zo%C3%AB/b%20c.m4a"));
    QCOMPARE(listing.index.size(), 2);
}

void tst_SongListBuilder::listsAnEmptyLibraryAsSeventeenBytes()
{
    const Listing listing = list(libraryXml({track(1, "file://localhost/a.flac")}));
    QCOMPARE(listing.body, QString("<songs>\r\n</songs>"));
    QCOMPARE(listing.body.size(), 17);
    QVERIFY(listing.index.isEmpty());

    QCOMPARE(list("<plist><dict/></plist>").body.size(), 17);
}

void tst_SongListBuilder::skipsWhatTheHandsetCannotPlay_data()
{
    QTest::addColumn<QString>("location");
    QTest::addColumn<bool>("listed");

    QTest::addRow("mp3") << "file://localhost/M/a.mp3" << true;
    QTest::addRow("m4a") << "file://localhost/M/a.m4a" << true;
    QTest::addRow("wma") << "file://localhost/M/a.wma" << true;
    QTest::addRow("wav") << "file://localhost/M/a.wav" << true;
    QTest::addRow("aac") << "file://localhost/M/a.aac" << true;
    QTest::addRow("empty host") << "file:///Users/x/a.mp3" << true;
    QTest::addRow("windows drive") << "file://localhost/C:/Music/a.mp3" << true;
    QTest::addRow("flac") << "file://localhost/M/a.flac" << false;
    QTest::addRow("capital MP3") << "file://localhost/M/a.MP3" << false;
    QTest::addRow("video") << "file://localhost/M/a.m4v" << false;
    QTest::addRow("extension also in a folder") << "file://localhost/M/x.mp3/a.mp3" << false;
    QTest::addRow("double extension") << "file://localhost/M/a.mp3.mp3" << false;
    QTest::addRow("other host") << "file://server/M/a.mp3" << false;
    QTest::addRow("web") << "http://example.com/a.mp3" << false;
    QTest::addRow("prefix not at the start") << "x file://localhost/a.mp3" << false;
    QTest::addRow("empty") << "" << false;
    QTest::addRow("only an extension") << ".mp3" << false;
}

void tst_SongListBuilder::skipsWhatTheHandsetCannotPlay()
{
    QFETCH(QString, location);
    QFETCH(bool, listed);
    QCOMPARE(list(libraryXml({track(1, location)})).index.contains(1), listed);
}

void tst_SongListBuilder::encodesTexts_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("encoded");

    QTest::addRow("markup") << "<b>Tom & Jerry</b>" << "&lt;b&gt;Tom &amp; Jerry&lt;/b&gt;";
    QTest::addRow("entity escaped again") << "R&amp;B" << "R&amp;amp;B";
    QTest::addRow("quotes stay") << "\"It's\"" << "\"It's\"";
    QTest::addRow("ends trimmed") << " \t Night\r\n" << "Night";
    QTest::addRow("inner space kept") << "a  b" << "a  b";
    QTest::addRow("no-break space trimmed") << QString::fromUtf8("\u00a0x\u2003") << "x";
    QTest::addRow("only white space") << "  \n " << "";
}

void tst_SongListBuilder::encodesTexts()
{
    QFETCH(QString, text);
    QTEST(SongListBuilder::xmlEncode(text), "encoded");

    QFETCH(QString, encoded);
    const TestTrack named{1, text, text, text, song};
    QCOMPARE(list(libraryXml({named})).body, listOf({songLine("1", encoded, encoded, encoded, "a.mp3")}));
}

void tst_SongListBuilder::decodesFileNames_data()
{
    QTest::addColumn<QString>("location");
    QTest::addColumn<QString>("fileName");

    QTest::addRow("space") << "file://localhost/M/My%20Song.mp3" << "My Song.mp3";
    QTest::addRow("decomposed") << "file://localhost/M/Alani%CC%88a.mp3" << QString::fromUtf8("Alani\u0308a.mp3");
    QTest::addRow("ampersand") << "file://localhost/M/Ripe%20&%20Ruin.mp3" << "Ripe & Ruin.mp3";
    QTest::addRow("plus stays") << "file://localhost/M/a+b.mp3" << "a+b.mp3";
    QTest::addRow("not UTF-8: as it stands") << "file://localhost/M/%E9t%E9.mp3" << "%E9t%E9.mp3";
    QTest::addRow("broken escape: as it stands") << "file://localhost/M/100%.mp3" << "100%.mp3";
}

void tst_SongListBuilder::decodesFileNames()
{
    QFETCH(QString, location);
    QFETCH(QString, fileName);
    QTEST(SongLocation::fileName(location), "fileName");
    const QString body = list(libraryXml({track(1, location)})).body;
    QVERIFY(body.contains("<filename>" + QString::fromLatin1(toLossyAscii(SongListBuilder::xmlEncode(fileName))) + "</filename>"));
}

void tst_SongListBuilder::choosesTheDevicePlaylist_data()
{
    QTest::addColumn<QList<TestPlaylist>>("playlists");
    QTest::addColumn<QString>("device");
    QTest::addColumn<QStringList>("listed");

    const QStringList all{"1", "2", "3", "4"};
    const TestPlaylist playbook{"PlayBook", QList<qint64>{2, 3, 99}};
    const TestPlaylist blackberry{"BlackBerry", QList<qint64>{1}};
    const TestPlaylist library{"Library", QList<qint64>{1, 2, 3, 4}};

    QTest::addRow("no playlists") << QList<TestPlaylist>{} << "" << all;
    QTest::addRow("playbook in any case") << QList<TestPlaylist>{library, playbook} << "" << QStringList{"2", "3"};
    QTest::addRow("bb10 takes blackberry") << QList<TestPlaylist>{playbook, blackberry} << "bb10" << QStringList{"1"};
    QTest::addRow("bb10 falls back to playbook") << QList<TestPlaylist>{playbook} << "bb10" << QStringList{"2", "3"};
    QTest::addRow("bb10 with neither") << QList<TestPlaylist>{library} << "bb10" << all;
    QTest::addRow("BB10 is not bb10") << QList<TestPlaylist>{playbook, blackberry} << "BB10" << QStringList{"2", "3"};
    QTest::addRow("blackberry is not bb10") << QList<TestPlaylist>{blackberry} << "blackberry" << all;
    QTest::addRow("first match wins")
        << QList<TestPlaylist>{{"playbook", QList<qint64>{4}}, playbook} << "" << QStringList{"4"};
    QTest::addRow("nameless playlist never matches")
        << QList<TestPlaylist>{{std::nullopt, QList<qint64>{4}}} << "" << all;
    QTest::addRow("no items: no filter") << QList<TestPlaylist>{{"playbook", std::nullopt}} << "" << all;
    QTest::addRow("empty items: no filter") << QList<TestPlaylist>{{"playbook", QList<qint64>{}}} << "" << all;
    QTest::addRow("filter only narrows: disabled stays out")
        << QList<TestPlaylist>{{"playbook", QList<qint64>{4, 5}}} << "" << QStringList{"4"};
}

void tst_SongListBuilder::choosesTheDevicePlaylist()
{
    QFETCH(QList<TestPlaylist>, playlists);
    QFETCH(QString, device);
    TestTrack disabled = track(5);
    disabled.disabled = true;
    const QByteArray xml = libraryXml({track(1), track(2), track(3), track(4), disabled}, playlists);
    QTEST(listedIds(list(xml, device).body), "listed");
}

void tst_SongListBuilder::keepsTheLaterOfTwoTracksWithOneIdInTheIndex()
{
    TestTrack first = track(9, "file://localhost/first.mp3");
    TestTrack second = track(9, "file://localhost/second.mp3");
    const Listing listing = list(libraryXml({first, second}));
    QCOMPARE(listedIds(listing.body), (QStringList{"9", "9"}));
    QCOMPARE(listing.index.location(9), QByteArray("file://localhost/second.mp3"));
}

void tst_SongListBuilder::writesIdsAs32BitDecimals()
{
    TestTrack withoutId = track(5);
    withoutId.writeTrackId = false;
    const Listing listing = list(libraryXml({track(-3), track(4294967297), withoutId}));
    QCOMPARE(listedIds(listing.body), (QStringList{"-3", "1", "0"}));
}

void tst_SongListBuilder::listsALargeLibraryInTheLibrarysOrder_data()
{
    QTest::addColumn<bool>("devicePlaylist");
    QTest::addRow("every track") << false;
    QTest::addRow("device playlist") << true;
}

// Large enough to be listed in parts at once: the lines still come in the library's order, and of two tracks with
// one ID, far apart, the index still keeps the later.
void tst_SongListBuilder::listsALargeLibraryInTheLibrarysOrder()
{
    QFETCH(bool, devicePlaylist);
    const auto locationOf = [](int i) {
        return QStringLiteral("file://localhost/M/%1.%2").arg(i).arg(i % 7 == 0 ? "flac" : "mp3");
    };
    QList<TestTrack> tracks;
    QList<qint64> playlistItems;
    QStringList expected;
    for (int i = 1; i <= 6000; ++i) {
        tracks.append(track(i, locationOf(i)));
        const bool inPlaylist = i % 3 != 0;
        if (inPlaylist)
            playlistItems.append(i);
        if (i % 7 != 0 && (inPlaylist || !devicePlaylist))
            expected.append(songLine(QString::number(i), QStringLiteral("Song %1").arg(i), "Album", "Artist",
                                     QStringLiteral("%1.mp3").arg(i)));
    }
    tracks.append(track(2, "file://localhost/M/again.mp3"));
    expected.append(songLine("2", "Song 2", "Album", "Artist", "again.mp3"));
    const QList<TestPlaylist> playlists{{QString("PlayBook"), playlistItems}};

    const Listing listing = list(libraryXml(tracks, devicePlaylist ? playlists : QList<TestPlaylist>{}));
    QCOMPARE(listing.body, listOf(expected));
    QCOMPARE(listing.index.size(), expected.size() - 1);
    QCOMPARE(listing.index.location(2), QByteArray("file://localhost/M/again.mp3"));
    QCOMPARE(listing.index.location(5998), locationOf(5998).toUtf8());
}

void tst_SongListBuilder::listsTheRealLibraries_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("listed");

    QTest::addRow("beets, Windows") << "beetbox_beets__itunes_library_windows.xml" << 3;
    QTest::addRow("asciamanna, BOM") << "asciamanna_iTunesLibraryParser__sampleiTunesLibrary.xml" << 30;
    QTest::addRow("jonaustin, macOS") << "jonaustin_lastfm-itunes__iTunes_Music_Library.xml" << 152;
    QTest::addRow("jeff, file:///") << "rojosinalma_itunes_parser__jeff.xml" << 22;
    QTest::addRow("coolaj86, folders") << "coolaj86_node-plist-stream__Library.xml" << 2;
    QTest::addRow("libpytunes, re-indented") << "liamks_libpytunes__Test_Library.xml" << 308;
}

void tst_SongListBuilder::listsTheRealLibraries()
{
    QFETCH(QString, file);
    const std::optional<PropertyList> library = PropertyList::readFile(QDir(PELLISOR_FIXTURES_DIR).filePath(file));
    QVERIFY(library);
    SongListBuilder::TrackIndex index;
    const QString body = QString::fromLatin1(SongListBuilder::build(library->root(), {}, index));
    QTEST(int(body.count("<song>")), "listed");
    QVERIFY(body.startsWith("<songs>\r\n") && body.endsWith("</songs>"));
    for (const qint32 id : index.ids())
        QVERIFY(SongLocation::isLocalFile(index.location(id)));
}

QTEST_APPLESS_MAIN(tst_SongListBuilder)
#include "tst_SongListBuilder.moc"
