// Drives the real executable the way a user and a handset would: launch it, talk to it with curl, quit it.

#include "LoopbackClient.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <arpa/inet.h>
#include <csignal>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr quint16 applicationPort = 4556;

// Holds port 4556 the way another program would.
class PortSquatter
{
public:
    PortSquatter()
    {
        m_descriptor = ::socket(AF_INET, SOCK_STREAM, 0);
        const int reuse = 1; // earlier tests leave connections in TIME_WAIT on this port
        ::setsockopt(m_descriptor, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(applicationPort);
        address.sin_addr.s_addr = htonl(INADDR_ANY);
        m_listening = ::bind(m_descriptor, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0
                      && ::listen(m_descriptor, 4) == 0;
    }
    ~PortSquatter() { ::close(m_descriptor); }
    bool isListening() const { return m_listening; }

private:
    int m_descriptor;
    bool m_listening = false;
};

QList<QByteArray> serverErrorLines(const QByteArray &standardError)
{
    QList<QByteArray> lines = standardError.split('\n');
    lines.removeIf([](const QByteArray &line) { return !line.contains("HTTPServer"); });
    return lines;
}

QString curl(const QStringList &arguments)
{
    QProcess process;
    process.start(QStringLiteral("curl"), QStringList{"--silent", "--show-error", "--max-time", "10"} + arguments);
    process.waitForFinished(15000);
    return QString::fromUtf8(process.readAllStandardOutput());
}

} // namespace

class tst_PellisorBinary : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void servesHelloAndQuitsCleanlyOnSigterm();
    void keepsRunningWhenThePortIsTaken();
    void secondLaunchHandsOverToTheFirstAndLeaves();
    void startsAfterAnInstanceWasKilled();

private:
    std::unique_ptr<QProcess> startPellisor();
    void launch();

    QTemporaryDir m_home;
    std::unique_ptr<QProcess> m_process;
};

void tst_PellisorBinary::init()
{
    QVERIFY(m_home.isValid());
    QVERIFY2(!acceptsConnections(applicationPort), "something else is serving port 4556");
}

void tst_PellisorBinary::cleanup()
{
    if (m_process && m_process->state() != QProcess::NotRunning) {
        m_process->kill();
        m_process->waitForFinished();
    }
    m_process.reset();
}

std::unique_ptr<QProcess> tst_PellisorBinary::startPellisor()
{
    auto process = std::make_unique<QProcess>();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HOME"), m_home.path());
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_home.path());
    environment.remove(QStringLiteral("DISPLAY"));
    environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
    environment.remove(QStringLiteral("QT_QPA_PLATFORM")); // it must choose the off-screen platform by itself
    process->setProcessEnvironment(environment);
    process->start(QStringLiteral(PELLISOR_BINARY), QStringList{});
    return process;
}

void tst_PellisorBinary::launch()
{
    m_process = startPellisor();
    QVERIFY(m_process->waitForStarted());
}

void tst_PellisorBinary::servesHelloAndQuitsCleanlyOnSigterm()
{
    launch();
    QTRY_VERIFY_WITH_TIMEOUT(acceptsConnections(applicationPort), 10000);

    QCOMPARE(curl({"--include", "http://127.0.0.1:4556/hello"}),
             QString("HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nConnection: close\r\nContent-Length: 6\r\n\r\n"
                     "Hello!"));
    QVERIFY(curl({"--include", "http://127.0.0.1:4556/nothing"}).startsWith("HTTP/1.1 501 Not Implemented\r\n"));

    m_process->terminate(); // SIGTERM
    QVERIFY(m_process->waitForFinished(5000));
    QCOMPARE(m_process->exitStatus(), QProcess::NormalExit);
    QCOMPARE(m_process->exitCode(), 0);
    QVERIFY(!acceptsConnections(applicationPort));
}

void tst_PellisorBinary::keepsRunningWhenThePortIsTaken()
{
    {
        PortSquatter squatter;
        QVERIFY(squatter.isListening());
        launch();
        QByteArray errors;
        QTRY_VERIFY_WITH_TIMEOUT((errors += m_process->readAllStandardError()).contains("HTTPServer"), 10000);
        QTest::qWait(200);
        QVERIFY(m_process->state() == QProcess::Running);
        errors += m_process->readAllStandardError();
        const QList<QByteArray> serverLines = serverErrorLines(errors);
        QCOMPARE(serverLines, QList<QByteArray>{"HTTPServer error: Error Domain=HTTPServerError Code=0 "
                                                "\"Unable to bind socket to address.\""});
    }
    ::kill(pid_t(m_process->processId()), SIGINT);
    QVERIFY(m_process->waitForFinished(5000));
    QCOMPARE(m_process->exitStatus(), QProcess::NormalExit);
    QCOMPARE(m_process->exitCode(), 0);
}

void tst_PellisorBinary::secondLaunchHandsOverToTheFirstAndLeaves()
{
    launch();
    QTRY_VERIFY_WITH_TIMEOUT(acceptsConnections(applicationPort), 10000);

    const std::unique_ptr<QProcess> second = startPellisor();
    QVERIFY(second->waitForFinished(5000));
    QCOMPARE(second->exitStatus(), QProcess::NormalExit);
    QCOMPARE(second->exitCode(), 0);
    // Had it started a server of its own, it would have reported the port as taken.
    QVERIFY(serverErrorLines(second->readAllStandardError()).isEmpty());

    QCOMPARE(m_process->state(), QProcess::Running);
    QCOMPARE(curl({"http://127.0.0.1:4556/hello"}), QStringLiteral("Hello!"));
    QVERIFY(serverErrorLines(m_process->readAllStandardError()).isEmpty());
}

void tst_PellisorBinary::startsAfterAnInstanceWasKilled()
{
    launch();
    QTRY_VERIFY_WITH_TIMEOUT(acceptsConnections(applicationPort), 10000);
    m_process->kill(); // leaves its single-instance socket file behind
    QVERIFY(m_process->waitForFinished(5000));
    QVERIFY(!acceptsConnections(applicationPort));

    launch();
    QTRY_VERIFY_WITH_TIMEOUT(acceptsConnections(applicationPort), 10000);
    QCOMPARE(curl({"http://127.0.0.1:4556/hello"}), QStringLiteral("Hello!"));
}

QTEST_GUILESS_MAIN(tst_PellisorBinary)
#include "tst_PellisorBinary.moc"
