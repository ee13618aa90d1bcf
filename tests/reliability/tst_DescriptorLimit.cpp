// A server process out of descriptors: more connections than it may open. It must keep running, not spin on a
// listening socket it cannot accept from, and answer again once the connections are gone.

#include "LoopbackClient.h"
#include "ServerProcess.h"

#include <QTemporaryDir>
#include <QTest>


namespace {

const QByteArray helloRequest = "GET /hello HTTP/1.1\r\n\r\n";
const QByteArray helloResponse = "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nConnection: close\r\n"
                                 "Content-Length: 6\r\n\r\nHello!";

constexpr rlim_t serverDescriptorLimit = 64;
constexpr int connections = 200;

} // namespace

class tst_DescriptorLimit : public QObject
{
    Q_OBJECT

private slots:
    void keepsGoingAtItsDescriptorLimit();
};

void tst_DescriptorLimit::keepsGoingAtItsDescriptorLimit()
{
    QTemporaryDir home;
    ServerProcess server({home.path(), serverDescriptorLimit});
    QVERIFY(server.port() != 0);
    QCOMPARE(fetch(server.port(), helloRequest), helloResponse);

    std::vector<std::unique_ptr<LoopbackClient>> clients;
    for (int i = 0; i < connections; ++i) {
        clients.push_back(std::make_unique<LoopbackClient>(server.port()));
        QVERIFY(clients.back()->isConnected()); // the kernel completes them; the server accepts what it can
    }
    // Every descriptor number the limit allows is taken.
    QTRY_COMPARE_WITH_TIMEOUT(server.openDescriptors(serverDescriptorLimit), qsizetype(serverDescriptorLimit), 10000);

    // One more request waits in the listening backlog meanwhile.
    LoopbackClient waiting(server.port());
    QVERIFY(waiting.send(helloRequest));

    // Saturated, it sleeps between attempts instead of waking for a socket it cannot accept from.
    const qint64 cpuBefore = server.cpuMilliseconds();
    QTest::qWait(1000);
    const qint64 cpuUsed = server.cpuMilliseconds() - cpuBefore;
    QVERIFY2(cpuUsed < 150, qPrintable(QStringLiteral("%1 ms of CPU in 1 s").arg(cpuUsed)));
    QVERIFY(server.isRunning());

    clients.clear();
    QVERIFY(waiting.readToEnd(15000));
    QCOMPARE(waiting.received(), helloResponse);
    QCOMPARE(fetch(server.port(), helloRequest), helloResponse);
    QTRY_VERIFY_WITH_TIMEOUT(server.openDescriptors(serverDescriptorLimit) < qsizetype(serverDescriptorLimit) / 2, 10000);
    QCOMPARE(server.terminate(), 0);
}

QTEST_GUILESS_MAIN(tst_DescriptorLimit)
#include "tst_DescriptorLimit.moc"
