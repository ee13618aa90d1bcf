// One instance per user and home: a later one hands over to the first, also past a crashed one's leftovers.

#include "SingleInstance.h"

#include <QDir>
#include <QLocalSocket>
#include <QSignalSpy>
#include <QTest>
#include <QUuid>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// A socket file with nobody listening behind it, as an instance that was killed leaves it.
bool leaveStaleSocketFile(const QString &name)
{
    const QByteArray path = QDir(QDir::tempPath()).filePath(name).toLocal8Bit();
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (size_t(path.size()) >= sizeof address.sun_path)
        return false;
    qstrcpy(address.sun_path, path.constData());
    const int descriptor = ::socket(AF_UNIX, SOCK_STREAM, 0);
    const bool bound = ::bind(descriptor, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
    ::close(descriptor);
    return bound && QFile::exists(QString::fromLocal8Bit(path));
}

} // namespace

class tst_SingleInstance : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void firstInstanceStaysSecondHandsOver();
    void everyLaterLaunchAsksAgain();
    void staleSocketFileIsTakenOver();
    void endedInstanceMakesRoomForTheNext();
    void strayTextIsNotARequest();
    void nameDependsOnUserAndHome();

private:
    QString m_name;
};

void tst_SingleInstance::init()
{
    m_name = QStringLiteral("pellisor-test-") + QUuid::createUuid().toString(QUuid::Id128).left(12);
}

void tst_SingleInstance::cleanup()
{
    QFile::remove(QDir(QDir::tempPath()).filePath(m_name));
}

void tst_SingleInstance::firstInstanceStaysSecondHandsOver()
{
    SingleInstance first(m_name);
    QSignalSpy reopenRequests(&first, &SingleInstance::reopenRequested);
    QVERIFY(!first.handOverToRunningInstance());

    SingleInstance second(m_name);
    QVERIFY(second.handOverToRunningInstance());
    QVERIFY(reopenRequests.wait());
    QCOMPARE(reopenRequests.size(), 1);
}

void tst_SingleInstance::everyLaterLaunchAsksAgain()
{
    SingleInstance first(m_name);
    QSignalSpy reopenRequests(&first, &SingleInstance::reopenRequested);
    QVERIFY(!first.handOverToRunningInstance());

    for (int launch = 0; launch < 3; ++launch)
        QVERIFY(SingleInstance(m_name).handOverToRunningInstance());
    QTRY_COMPARE(reopenRequests.size(), 3);
}

void tst_SingleInstance::staleSocketFileIsTakenOver()
{
    QVERIFY(leaveStaleSocketFile(m_name));

    SingleInstance first(m_name);
    QSignalSpy reopenRequests(&first, &SingleInstance::reopenRequested);
    QVERIFY(!first.handOverToRunningInstance());

    QVERIFY(SingleInstance(m_name).handOverToRunningInstance());
    QVERIFY(reopenRequests.wait());
}

void tst_SingleInstance::endedInstanceMakesRoomForTheNext()
{
    {
        SingleInstance ended(m_name);
        QVERIFY(!ended.handOverToRunningInstance());
    }
    SingleInstance next(m_name);
    QVERIFY(!next.handOverToRunningInstance());
}

void tst_SingleInstance::strayTextIsNotARequest()
{
    SingleInstance first(m_name);
    QSignalSpy reopenRequests(&first, &SingleInstance::reopenRequested);
    QVERIFY(!first.handOverToRunningInstance());

    QLocalSocket stranger;
    stranger.connectToServer(m_name);
    QVERIFY(stranger.waitForConnected(1000));
    stranger.write("GET / HTTP/1.0\r\n");
    stranger.write(QByteArray(100, 'x'));
    QVERIFY(stranger.waitForBytesWritten(1000));
    QSignalSpy strangerLeft(&stranger, &QLocalSocket::disconnected);
    QVERIFY(strangerLeft.wait()); // the first instance hangs up on a line too long to be a request
    QCOMPARE(reopenRequests.size(), 0);
}

void tst_SingleInstance::nameDependsOnUserAndHome()
{
    const QByteArray realHome = qgetenv("HOME");
    const QString userPart = QStringLiteral("-%1-").arg(::getuid());

    qputenv("HOME", "/home/one");
    const QString one = SingleInstance::nameForCurrentUser();
    const QString oneAgain = SingleInstance::nameForCurrentUser();
    qputenv("HOME", "/home/two");
    const QString two = SingleInstance::nameForCurrentUser();
    qputenv("HOME", realHome);

    QCOMPARE(one, oneAgain);
    QVERIFY(one != two);
    QVERIFY(one.contains(userPart));
    QVERIFY(!one.contains(QStringLiteral("/home")));
}

QTEST_GUILESS_MAIN(tst_SingleInstance)
#include "tst_SingleInstance.moc"
