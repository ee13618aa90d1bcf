// SPDX-License-Identifier: GPL-3.0-or-later
#include "URLParser.h"

#include <QTest>

class tst_URLParser : public QObject
{
    Q_OBJECT

private slots:
    void splitsTheQueryAndFindsAVariable_data();
    void splitsTheQueryAndFindsAVariable();
};

void tst_URLParser::splitsTheQueryAndFindsAVariable_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<QStringList>("pieces");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("value"); // null: none

    QTest::addRow("device") << "/getSongList?device=bb10" << QStringList{"device=bb10"} << "device" << "bb10";
    QTest::addRow("absolute url") << "http://192.168.1.2:4556/getSongList?device=bb10" << QStringList{"device=bb10"}
                                  << "device" << "bb10";
    QTest::addRow("second piece") << "/getSongList?device=playbook&x=1" << QStringList{"device=playbook", "x=1"}
                                  << "x" << "1";
    QTest::addRow("absent name") << "/getSongList?device=playbook&x=1" << QStringList{"device=playbook", "x=1"}
                                 << "y" << QString();
    QTest::addRow("empty query") << "/getSongList?" << QStringList{} << "device" << QString();
    QTest::addRow("runs of separators") << "/getSongList?&&device=bb10&&" << QStringList{"device=bb10"} << "device"
                                        << "bb10";
    QTest::addRow("? inside a piece") << "/getSongList?a=1?b=2&c" << QStringList{"a=1?b=2", "c"} << "a" << "1?b=2";
    QTest::addRow("piece without =") << "/getSongList?a=1?b=2&c" << QStringList{"a=1?b=2", "c"} << "c" << QString();
    QTest::addRow("& before the query") << "/x&y?a=1" << QStringList{"a=1"} << "a" << "1";
    QTest::addRow("text that begins with ?") << "?a=1&b=2" << QStringList{} << "a" << QString();
    QTest::addRow("spaces stay") << "/x?a= 1 & b=2" << QStringList{"a= 1 ", " b=2"} << " b" << "2";
    QTest::addRow("name without its space") << "/x?a= 1 & b=2" << QStringList{"a= 1 ", " b=2"} << "b" << QString();
    QTest::addRow("empty value passed over") << "/x?device=&device=bb10" << QStringList{"device=", "device=bb10"}
                                             << "device" << "bb10";
    QTest::addRow("first match wins") << "/x?device=a&device=b" << QStringList{"device=a", "device=b"} << "device"
                                      << "a";
    QTest::addRow("name case matters") << "/x?Device=bb10" << QStringList{"Device=bb10"} << "device" << QString();
    QTest::addRow("nothing decoded") << "/x?device=B%31+=" << QStringList{"device=B%31+="} << "device" << "B%31+=";
    QTest::addRow("longer name") << "/x?devices=1" << QStringList{"devices=1"} << "device" << QString();
}

void tst_URLParser::splitsTheQueryAndFindsAVariable()
{
    QFETCH(QString, url);
    QFETCH(QString, name);
    QFETCH(QString, value);
    const URLParser parser(url);
    QTEST(parser.variables(), "pieces");
    QCOMPARE(parser.valueForVariable(name).isNull(), value.isNull());
    QCOMPARE(parser.valueForVariable(name), value);
}

QTEST_APPLESS_MAIN(tst_URLParser)
#include "tst_URLParser.moc"
