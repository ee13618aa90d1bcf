#include "URLParser.h"

#include <QTest>

class tst_URLParser : public QObject
{
    Q_OBJECT

private slots:
    void splitsTheQuery_data();
    void splitsTheQuery();
    void findsAVariable_data();
    void findsAVariable();
};

void tst_URLParser::splitsTheQuery_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<QStringList>("pieces");

    QTest::addRow("one piece") << "/getSongList?device=bb10" << QStringList{"device=bb10"};
    QTest::addRow("absolute url") << "http://192.168.1.2:4556/getSongList?device=bb10" << QStringList{"device=bb10"};
    QTest::addRow("two pieces") << "/getSongList?device=playbook&x=1" << QStringList{"device=playbook", "x=1"};
    QTest::addRow("no query") << "/getSongList" << QStringList{};
    QTest::addRow("empty query") << "/getSongList?" << QStringList{};
    QTest::addRow("runs of separators") << "/getSongList?&&device=bb10&&" << QStringList{"device=bb10"};
    QTest::addRow("question mark inside a piece") << "/getSongList?a=1?b=2&c" << QStringList{"a=1?b=2", "c"};
    QTest::addRow("ampersand before the query") << "/x&y?a=1" << QStringList{"a=1"};
    QTest::addRow("text that begins with ?") << "?a=1&b=2" << QStringList{};
    QTest::addRow("spaces stay") << "/x?a= 1 & b=2" << QStringList{"a= 1 ", " b=2"};
    QTest::addRow("empty text") << "" << QStringList{};
}

void tst_URLParser::splitsTheQuery()
{
    QFETCH(QString, url);
    QTEST(URLParser(url).variables(), "pieces");
}

void tst_URLParser::findsAVariable_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("value"); // null: no value

    QTest::addRow("device") << "/getSongList?device=bb10" << "device" << "bb10";
    QTest::addRow("second piece") << "/getSongList?device=playbook&x=1" << "x" << "1";
    QTest::addRow("absent name") << "/getSongList?device=playbook&x=1" << "y" << QString();
    QTest::addRow("no query") << "/getSongList" << "device" << QString();
    QTest::addRow("value holding ?") << "/getSongList?a=1?b=2&c" << "a" << "1?b=2";
    QTest::addRow("piece without =") << "/getSongList?a=1?b=2&c" << "c" << QString();
    QTest::addRow("spaces are part of the value") << "/x?a= 1 & b=2" << "a" << " 1 ";
    QTest::addRow("name with its leading space") << "/x?a= 1 & b=2" << " b" << "2";
    QTest::addRow("name without it") << "/x?a= 1 & b=2" << "b" << QString();
    QTest::addRow("empty value passed over") << "/x?device=&device=bb10" << "device" << "bb10";
    QTest::addRow("only an empty value") << "/x?device=" << "device" << QString();
    QTest::addRow("first match wins") << "/x?device=a&device=b" << "device" << "a";
    QTest::addRow("name case matters") << "/x?Device=bb10" << "device" << QString();
    QTest::addRow("value case kept") << "/x?device=BB10" << "device" << "BB10";
    QTest::addRow("escapes kept") << "/x?device=bb%31%30" << "device" << "bb%31%30";
    QTest::addRow("further = kept") << "/x?device=a=b" << "device" << "a=b";
    QTest::addRow("plus kept") << "/x?device=a+b" << "device" << "a+b";
    QTest::addRow("longer name is not a match") << "/x?devices=1" << "device" << QString();
}

void tst_URLParser::findsAVariable()
{
    QFETCH(QString, url);
    QFETCH(QString, name);
    QFETCH(QString, value);
    const QString found = URLParser(url).valueForVariable(name);
    QCOMPARE(found.isNull(), value.isNull());
    QCOMPARE(found, value);
}

QTEST_APPLESS_MAIN(tst_URLParser)
#include "tst_URLParser.moc"
