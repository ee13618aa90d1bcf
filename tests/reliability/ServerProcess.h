#pragma once

// Runs reliability-server as a child process with a home folder of the test's choosing, and reads what the
// kernel knows of it: CPU time, resident memory, open descriptors.

#include <QFile>
#include <QProcess>
#include <QTest>

#include <filesystem>
#include <limits>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

class ServerProcess
{
public:
    struct Options
    {
        QString home;
        rlim_t descriptorLimit = 0; // 0: inherit the test's
        int headerTimeLimitMs = 30000;
        int stallLimitMs = 60000;
    };

    explicit ServerProcess(const Options &options)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("HOME"), options.home);
        m_process.setProcessEnvironment(environment);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        const rlim_t limit = options.descriptorLimit;
        if (limit > 0) {
            // As `ulimit -n` would: the limit is the process's from its first instruction on.
            m_process.setChildProcessModifier([limit] {
                const rlimit descriptors{limit, limit};
                ::setrlimit(RLIMIT_NOFILE, &descriptors);
            });
        }
        m_process.start(QStringLiteral(RELIABILITY_SERVER),
                        {QString::number(options.headerTimeLimitMs), QString::number(options.stallLimitMs)});
        if (!m_process.waitForStarted(10000))
            return;
        while (!m_process.canReadLine() && m_process.waitForReadyRead(20000)) {
        }
        const QByteArray line = m_process.readLine().trimmed();
        if (line.startsWith("port "))
            m_port = quint16(line.mid(5).toUInt());
    }

    ~ServerProcess()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(10000);
        }
    }

    quint16 port() const { return m_port; }
    bool isRunning() const { return m_process.state() == QProcess::Running; }
    qint64 pid() const { return m_process.processId(); }

    // User and system time so far, in milliseconds.
    qint64 cpuMilliseconds() const
    {
        QFile stat(procPath("stat"));
        if (!stat.open(QIODevice::ReadOnly))
            return -1;
        const QByteArray text = stat.readAll();
        // The fields after the command name, which is in parentheses and may hold spaces.
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
        const qint64 ticks = fields.value(11).toLongLong() + fields.value(12).toLongLong(); // utime, stime
        return ticks * 1000 / ::sysconf(_SC_CLK_TCK);
    }

    // A line of /proc/<pid>/status in kB: "VmRSS" now, "VmHWM" at its peak.
    qint64 statusKilobytes(const QByteArray &name) const
    {
        QFile status(procPath("status"));
        if (!status.open(QIODevice::ReadOnly))
            return -1;
        for (const QByteArray &line : status.readAll().split('\n')) {
            if (line.startsWith(name + ':'))
                return line.mid(name.size() + 1).trimmed().split(' ').value(0).toLongLong();
        }
        return -1;
    }

    // Open descriptors numbered below `below`: a descriptor inherited from the test may lie above any limit.
    qsizetype openDescriptors(int below = std::numeric_limits<int>::max()) const
    {
        std::error_code error;
        qsizetype count = 0;
        for (const auto &entry : std::filesystem::directory_iterator(procPath("fd").toStdString(), error)) {
            if (std::stoi(entry.path().filename().string()) < below)
                ++count;
        }
        return error ? -1 : count;
    }

    // SIGTERM, then the exit code of a clean exit, or -1 for a crash or a process that did not end in time.
    int terminate(int milliseconds = 10000)
    {
        m_process.terminate();
        if (!m_process.waitForFinished(milliseconds) || m_process.exitStatus() != QProcess::NormalExit)
            return -1;
        return m_process.exitCode();
    }

    QProcess &process() { return m_process; }

private:
    QString procPath(const char *entry) const { return QStringLiteral("/proc/%1/%2").arg(pid()).arg(entry); }

    QProcess m_process;
    quint16 m_port = 0;
};
