// The real executable told to quit while a slow handset is in the middle of a download: it exits at once, with 0.

#include "LibraryWriter.h"
#include "LoopbackClient.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>


namespace {

constexpr quint16 applicationPort = 4556;
// A big song, sparse so that it costs no disk: the download is far from done when the quit comes.
constexpr qint64 songSize = qint64(512) << 20;

} // namespace

class tst_QuitMidDownload : public QObject
{
    Q_OBJECT

private slots:
    void quitsCleanlyAndQuicklyMidDownload();
};

void tst_QuitMidDownload::quitsCleanlyAndQuicklyMidDownload()
{
    QVERIFY2(!acceptsConnections(applicationPort), "something else is serving port 4556");
    QTemporaryDir home;
    QVERIFY(home.isValid());
    const QString songPath = home.path() + "/Media/big song.mp3";
    QVERIFY(QDir().mkpath(home.path() + "/Media"));
    QVERIFY(QDir().mkpath(home.path() + "/Music/iTunes"));
    {
        QFile song(songPath);
        QVERIFY(song.open(QIODevice::WriteOnly));
        QVERIFY(song.resize(songSize));
        QFile library(home.path() + "/Music/iTunes/iTunes Music Library.xml");
        QVERIFY(library.open(QIODevice::WriteOnly));
        TestTrack track;
        track.trackId = 42;
        track.name = QStringLiteral("Big");
        track.location = locationOf(songPath);
        library.write(libraryXml({track}));
    }

    QProcess pellisor;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HOME"), home.path());
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), home.path());
    environment.remove(QStringLiteral("DISPLAY"));
    environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
    pellisor.setProcessEnvironment(environment);
    pellisor.setProcessChannelMode(QProcess::ForwardedChannels);
    pellisor.start(QStringLiteral(PELLISOR_BINARY), QStringList{});
    QVERIFY(pellisor.waitForStarted());
    auto killIfRunning = qScopeGuard([&pellisor] {
        if (pellisor.state() != QProcess::NotRunning) {
            pellisor.kill();
            pellisor.waitForFinished();
        }
    });
    QTRY_VERIFY_WITH_TIMEOUT(acceptsConnections(applicationPort), 20000);

    QVERIFY(fetch(applicationPort, "GET /getSongList HTTP/1.1\r\n\r\n").contains("<trackid>42</trackid>"));
    LoopbackClient handset(applicationPort, 16 * 1024);
    QVERIFY(handset.send("GET /getSong?xx=42 HTTP/1.1\r\n\r\n"));
    QVERIFY(!handset.readToEnd(10000, 1024 * 1024)); // a megabyte in, and it stops reading

    QElapsedTimer elapsed;
    elapsed.start();
    pellisor.terminate();
    QVERIFY2(pellisor.waitForFinished(5000), "still running 5 s after SIGTERM");
    qInfo("exited %lld ms after SIGTERM", elapsed.elapsed());
    QCOMPARE(pellisor.exitStatus(), QProcess::NormalExit);
    QCOMPARE(pellisor.exitCode(), 0);

    // The handset sees its download end short, never an error text after the song's head.
    QVERIFY(handset.readToEnd(10000));
    QVERIFY(handset.head().startsWith("HTTP/1.1 200 OK\r\n"));
    QVERIFY(handset.body().size() < songSize);
    QVERIFY(handset.body().count('\0') == handset.body().size());
    QVERIFY(!acceptsConnections(applicationPort));
}

QTEST_GUILESS_MAIN(tst_QuitMidDownload)
#include "tst_QuitMidDownload.moc"
