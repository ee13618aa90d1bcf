// SPDX-License-Identifier: GPL-3.0-or-later
// The real executable, launched as a user launches it, in a home of its own, and talked to with curl as a handset
// talks to it. One process after another: each slot goes on from where the one before left the running instance.

#include "LibraryWriter.h"
#include "LoopbackClient.h"

#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <memory>
#include <vector>

namespace {

constexpr quint16 applicationPort = 4556;
const QString address = QStringLiteral("http://127.0.0.1:4556");
const QByteArray song = QByteArray("not really an mp3 ").repeated(4000);
// Sparse, so that it costs no disk: far from sent when the quit comes.
constexpr qint64 bigSongSize = qint64(512) << 20;

QByteArray curl(const QStringList &arguments)
{
    QProcess curl;
    curl.start(QStringLiteral("curl"), QStringList{"--silent", "--max-time", "20"} + arguments);
    curl.waitForFinished(30000);
    return curl.readAllStandardOutput();
}

bool exitsWithZero(QProcess &process)
{
    return process.waitForFinished(10000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

} // namespace

class tst_PellisorBinary : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void keepsRunningOnATakenPortAndQuitsOnSigint();
    void servesHelloTheSongListAndASong();
    void laterLaunchesHandOverAlsoPastAKilledInstance();
    void outlivesAHangUpAndQuitsOnSigtermMidDownload();

private:
    QProcess &launch();

    QTemporaryDir m_home;
    std::vector<std::unique_ptr<QProcess>> m_launched;
    QProcess *m_running = nullptr;
};

void tst_PellisorBinary::initTestCase()
{
    QVERIFY(m_home.isValid());
    const QString media = m_home.filePath("Media/");
    QVERIFY(QDir().mkpath(media) && QDir().mkpath(m_home.filePath("Music/iTunes")));
    QFile small(media + "song.mp3"), big(media + "big song.mp3");
    QVERIFY(small.open(QIODevice::WriteOnly) && small.write(song) == song.size());
    QVERIFY(big.open(QIODevice::WriteOnly) && big.resize(bigSongSize));
    const auto track = [](qint64 id, const QString &name, const QString &path) {
        TestTrack track;
        track.trackId = id;
        track.name = name;
        track.location = locationOf(path);
        return track;
    };
    const QList<TestTrack> tracks{track(7, "Song", small.fileName()), track(42, "Big", big.fileName())};
    QFile library(m_home.filePath("Music/iTunes/iTunes Music Library.xml"));
    QVERIFY(library.open(QIODevice::WriteOnly) && library.write(libraryXml(tracks)) > 0);
}

void tst_PellisorBinary::cleanupTestCase()
{
    for (const std::unique_ptr<QProcess> &process : m_launched) {
        process->kill();
        process->waitForFinished();
    }
}

QProcess &tst_PellisorBinary::launch()
{
    QProcess &process = *m_launched.emplace_back(std::make_unique<QProcess>());
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HOME"), m_home.path());
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_home.path());
    // Without a display it must choose the off-screen platform by itself.
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        environment.remove(QString::fromLatin1(name));
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(PELLISOR_BINARY), QStringList{});
    return process;
}

void tst_PellisorBinary::keepsRunningOnATakenPortAndQuitsOnSigint()
{
    QTcpServer otherProgram;
    QVERIFY2(otherProgram.listen(QHostAddress::LocalHost, applicationPort), "port 4556 is taken already");
    QProcess &pellisor = launch();
    QByteArray errors;
    QTRY_VERIFY_WITH_TIMEOUT((errors += pellisor.readAllStandardError()).contains("Unable to bind socket"), 20000);

    QCOMPARE(pellisor.state(), QProcess::Running);
    ::kill(pid_t(pellisor.processId()), SIGINT);
    QVERIFY(exitsWithZero(pellisor));
}

void tst_PellisorBinary::servesHelloTheSongListAndASong()
{
    m_running = &launch();
    QTRY_VERIFY_WITH_TIMEOUT(acceptsConnections(applicationPort), 20000);

    QCOMPARE(curl({"--include", address + "/hello"}),
             "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nConnection: close\r\nContent-Length: 6\r\n\r\nHello!");
    const QByteArray list = curl({address + "/getSongList"});
    QVERIFY2(list.startsWith("<songs>\r\n") && list.endsWith("</songs>"), list.constData());
    QVERIFY(list.contains("<song><trackid>7</trackid><name>Song</name><album>Unknown Album</album>"
                          "<artist>Unknown Artist</artist><filename>song.mp3</filename></song>\r\n"));
    QVERIFY(curl({address + "/getSong?xx=7"}) == song);
}

void tst_PellisorBinary::laterLaunchesHandOverAlsoPastAKilledInstance()
{
    // Had a later launch not found the running one, it would keep running on the taken port.
    QVERIFY(exitsWithZero(launch()));

    m_running->kill(); // leaves its single-instance socket behind
    QVERIFY(m_running->waitForFinished());
    m_running = &launch();
    QTRY_VERIFY_WITH_TIMEOUT(acceptsConnections(applicationPort), 20000);
    QVERIFY(exitsWithZero(launch()));
}

void tst_PellisorBinary::outlivesAHangUpAndQuitsOnSigtermMidDownload()
{
    QVERIFY(curl({address + "/getSongList"}).contains("<trackid>42</trackid>")); // downloads follow a list
    QProcess leaving, handset;
    for (QProcess *curl : {&leaving, &handset}) {
        curl->start(QStringLiteral("curl"), {"--silent", "--include", "--limit-rate", "64K", address + "/getSong?xx=42"});
        QVERIFY(curl->waitForReadyRead(20000));
    }
    leaving.kill(); // a handset that hangs up mid-song, which must not end the server's process
    QVERIFY(leaving.waitForFinished());

    m_running->terminate();
    QVERIFY(exitsWithZero(*m_running));

    // The download ends short, never with an error text after the song's head.
    QVERIFY(handset.waitForFinished(20000));
    const QByteArray received = handset.readAllStandardOutput();
    // curl: the transfer ended before the length it was told, by a close (18) or a reset (56)
    QVERIFY2(handset.exitCode() == 18 || handset.exitCode() == 56, qPrintable(QString::number(handset.exitCode())));
    QVERIFY(received.startsWith("HTTP/1.1 200 OK\r\n"));
    const QByteArray body = received.mid(received.indexOf("\r\n\r\n") + 4);
    QVERIFY(body.size() < bigSongSize && body.count('\0') == body.size());
}

QTEST_GUILESS_MAIN(tst_PellisorBinary)
#include "tst_PellisorBinary.moc"
