// Every input kept in the fuzz corpora, run through the fuzz targets' own entry points in this build: inputs that
// once broke something stay mended, and each build of the tests (the sanitizer build too) reads every seed.

#include "FuzzEntryPoints.h"

#include <QDir>
#include <QFile>
#include <QTest>

namespace {

struct FuzzTarget
{
    const char *name;
    void (*run)(QByteArrayView input);
};

constexpr FuzzTarget fuzzTargets[] = {
    {"request_parser", FuzzEntryPoints::requestParser},
    {"url_parser", FuzzEntryPoints::urlParser},
    {"xml_plist", FuzzEntryPoints::propertyList},
    {"binary_plist", FuzzEntryPoints::binaryPropertyList},
    {"song_list", FuzzEntryPoints::songList},
};

QFileInfoList corpusOf(const FuzzTarget &target)
{
    return QDir(QStringLiteral(PELLISOR_FUZZ_CORPUS_DIR "/") + QLatin1StringView(target.name))
        .entryInfoList(QDir::Files, QDir::Name);
}

} // namespace

class tst_CorpusReplay : public QObject
{
    Q_OBJECT

private slots:
    void everyTargetHasSeeds();
    void binarySeedsAreBinaryLists();
    void replaysEveryInput_data();
    void replaysEveryInput();
};

void tst_CorpusReplay::everyTargetHasSeeds()
{
    for (const FuzzTarget &target : fuzzTargets)
        QVERIFY2(corpusOf(target).size() >= 3, target.name);
}

void tst_CorpusReplay::binarySeedsAreBinaryLists()
{
    for (const QFileInfo &seed : corpusOf(fuzzTargets[3])) {
        QFile file(seed.filePath());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY2(file.read(8) == "bplist00", qPrintable(seed.fileName()));
    }
}

void tst_CorpusReplay::replaysEveryInput_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("target");
    for (int i = 0; i < int(std::size(fuzzTargets)); ++i) {
        for (const QFileInfo &input : corpusOf(fuzzTargets[i]))
            QTest::addRow("%s/%s", fuzzTargets[i].name, qPrintable(input.fileName())) << input.filePath() << i;
    }
}

void tst_CorpusReplay::replaysEveryInput()
{
    QFETCH(QString, path);
    QFETCH(int, target);
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    fuzzTargets[target].run(file.readAll()); // returns, or stops the test with the row's name above it
}

QTEST_GUILESS_MAIN(tst_CorpusReplay)
#include "tst_CorpusReplay.moc"
