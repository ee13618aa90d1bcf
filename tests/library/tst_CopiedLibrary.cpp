// SPDX-License-Identifier: GPL-3.0-or-later
// Where a song of a library copied from another computer is looked for, and where never.

#include "CopiedLibrary.h"

#include <QTest>

class tst_CopiedLibrary : public QObject
{
    Q_OBJECT

private slots:
    void candidatePaths_data();
    void candidatePaths();
};

void tst_CopiedLibrary::candidatePaths_data()
{
    QTest::addColumn<QString>("location");
    QTest::addColumn<QString>("musicFolder");
    QTest::addColumn<QString>("userFolder");
    QTest::addColumn<QStringList>("expected");

    const QString mac = QStringLiteral("file:///Users/ana/Music/iTunes/iTunes%20Media/");
    const QString song = QStringLiteral("Music/A/01%20Caf%C3%A9.mp3");
    QTest::addRow("Mac home: beside the library, then the user's folder")
        << mac + song << mac << "/srv/music"
        << QStringList{"/home/u/Library/iTunes Media/Music/A/01 Café.mp3", "/srv/music/Music/A/01 Café.mp3"};
    QTest::addRow("Windows drive in another letter case")
        << "file://localhost/C:/Users/Ana/Music/iTunes/iTunes%20Media/Music/x.m4a"
        << "file://localhost/c:/users/ana/music/itunes/iTunes%20Media/" << ""
        << QStringList{"/home/u/Library/iTunes Media/Music/x.m4a"};
    QTest::addRow("Windows D drive, folder without its slash")
        << "file://localhost/D:/Tunes/x.mp3" << "file:///d:/Tunes" << "" << QStringList{"/home/u/Library/Tunes/x.mp3"};
    QTest::addRow("Mac letter case counts") << "file:///Users/Ana/Music/iTunes/iTunes%20Media/" + song << mac << ""
                                           << QStringList{};
    QTest::addRow("outside the Music Folder") << "file:///Users/ana/Desktop/x.mp3" << mac << "/srv" << QStringList{};
    QTest::addRow("a longer name is not the folder") << "file:///Users/ana/Tunes2/x.mp3" << "file:///Users/ana/Tunes"
                                                     << "/srv" << QStringList{};
    QTest::addRow("dots that are only part of a name")
        << mac + "Music/Metallica/...And%20Justice%20for%20All/01%20Blackened..mp3" << mac << ""
        << QStringList{"/home/u/Library/iTunes Media/Music/Metallica/...And Justice for All/01 Blackened..mp3"};
    QTest::addRow("dot-dot refused, even inside") << mac + "Music/A/../x.mp3" << mac << "/srv" << QStringList{};
    QTest::addRow("encoded dot-dot refused") << mac + "%2E%2E/%2e%2e/x.mp3" << mac << "/srv" << QStringList{};
    QTest::addRow("dot-dot as the folder's name") << "file:///a/../x.mp3" << "file:///a/../" << "" << QStringList{};
    QTest::addRow("UNC host") << "file://server/share/Media/x.mp3" << "file://server/share/Media/" << "/srv"
                              << QStringList{};
    QTest::addRow("UNC share after localhost") << "file://localhost//server/share/x.mp3"
                                               << "file://localhost//server/share/" << "/srv" << QStringList{};
    QTest::addRow("drive letter and no Music Folder") << "file://localhost/C:/Music/x.mp3" << "" << "/srv"
                                                      << QStringList{};
    QTest::addRow("escapes that are not UTF-8") << mac + "x%FF.mp3" << mac << "/srv" << QStringList{};
    QTest::addRow("folder at the root: only the user's folder")
        << "file:///x/y.mp3" << "file:///" << "/srv" << QStringList{"/srv/x/y.mp3"};
}

void tst_CopiedLibrary::candidatePaths()
{
    QFETCH(QString, location);
    QFETCH(QString, musicFolder);
    QFETCH(QString, userFolder);
    QFETCH(QStringList, expected);
    QCOMPARE(CopiedLibrary::candidatePaths(location, musicFolder, "/home/u/Library/iTunes Library.xml", userFolder),
             expected);
}

QTEST_APPLESS_MAIN(tst_CopiedLibrary)
#include "tst_CopiedLibrary.moc"
