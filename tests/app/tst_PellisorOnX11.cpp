// SPDX-License-Identifier: GPL-3.0-or-later
// Screenshots of the window and the address alert, as the README shows them (`make screenshots`): the real executable
// serving the sample library on a virtual X display, driven with xdotool, after a handset's list and song. Slow and
// needs Xvfb, so `make test` leaves it out.

#include "LoopbackClient.h"

#include <QDir>
#include <QImage>
#include <QProcess>
#include <QSet>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {

// A drawn window shows the icon's gradient; one not drawn yet is a flat colour.
bool isDrawn(const QImage &image)
{
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            colours.insert(image.pixel(x, y));
    return colours.size() >= 32;
}

} // namespace

class tst_PellisorOnX11 : public QObject
{
    Q_OBJECT

private slots:
    void windowAndAlert();

private:
    QString run(const QString &program, const QStringList &arguments);
    QString visibleWindow(const QString &title) { return run("xdotool", {"search", "--onlyvisible", "--name", title}); }
    bool screenshot(const QString &window, const QString &fileName);
    void press(const QString &window, const QString &keys);

    QProcessEnvironment m_environment = QProcessEnvironment::systemEnvironment();
};

QString tst_PellisorOnX11::run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.setProcessEnvironment(m_environment);
    process.start(program, arguments);
    process.waitForFinished(10000);
    return QString::fromUtf8(process.readAllStandardOutput()).section(u'\n', 0, 0);
}

bool tst_PellisorOnX11::screenshot(const QString &window, const QString &fileName)
{
    const QString path = QDir(QStringLiteral(PELLISOR_SCREENSHOT_DIR)).filePath(fileName);
    run("import", {"-window", window, path});
    return isDrawn(QImage(path));
}

void tst_PellisorOnX11::press(const QString &window, const QString &keys)
{
    // No window manager gives focus on a click here, so the test gives it.
    run("xdotool", {"windowfocus", "--sync", window});
    run("xdotool", {"key", keys});
}

void tst_PellisorOnX11::windowAndAlert()
{
    for (const char *tool : {"Xvfb", "xdotool", "import"}) {
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
            QSKIP(qPrintable(QStringLiteral("%1 is not installed").arg(QLatin1String(tool))));
    }
    QTemporaryDir home;
    QVERIFY(home.isValid() && QDir().mkpath(QStringLiteral(PELLISOR_SCREENSHOT_DIR)));

    // Xvfb picks a free display itself and writes its number to the descriptor named.
    QProcess xvfb, pellisor;
    xvfb.start("Xvfb", {"-displayfd", "1", "-screen", "0", "1280x800x24", "-nolisten", "tcp"});
    QTRY_VERIFY_WITH_TIMEOUT(xvfb.canReadLine() || xvfb.state() == QProcess::NotRunning, 10000);
    m_environment.insert("DISPLAY", ':' + QString::fromLatin1(xvfb.readLine().trimmed()));
    m_environment.insert("HOME", home.path());
    m_environment.insert("XDG_RUNTIME_DIR", home.path());
    m_environment.remove("QT_QPA_PLATFORM"); // with a display it must choose X by itself
    pellisor.setProcessEnvironment(m_environment);
    const QString sample = QFileInfo(PELLISOR_BINARY).dir().filePath("sample-home/Music/iTunes/iTunes Music Library.xml");
    pellisor.start(QStringLiteral(PELLISOR_BINARY), {"--library", sample});
    const auto stop = qScopeGuard([&] {
        for (QProcess *process : {&pellisor, &xvfb}) {
            process->kill();
            process->waitForFinished();
        }
    });

    QString window, alert;
    QTRY_VERIFY_WITH_TIMEOUT(!(window = visibleWindow("^Pellisor$")).isEmpty(), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(acceptsConnections(4556), 10000);
    QVERIFY(fetch(4556, "GET /getSongList HTTP/1.1\r\n\r\n").startsWith("HTTP/1.1 200 OK"));
    QVERIFY(fetch(4556, "GET /getSong?xx=1001 HTTP/1.1\r\n\r\n").startsWith("HTTP/1.1 200 OK"));
    QTRY_VERIFY_WITH_TIMEOUT(screenshot(window, "window.png"), 10000);
    press(window, "alt+i");
    QTRY_VERIFY_WITH_TIMEOUT(!(alert = visibleWindow("^IP Address$")).isEmpty(), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(screenshot(alert, "alert.png"), 10000);
    press(alert, "Return");
    QTRY_VERIFY_WITH_TIMEOUT(visibleWindow("^IP Address$").isEmpty(), 10000);
    press(window, "ctrl+q");
    QVERIFY(pellisor.waitForFinished(10000));
    QCOMPARE(pellisor.exitCode(), 0);
}

QTEST_GUILESS_MAIN(tst_PellisorOnX11)
#include "tst_PellisorOnX11.moc"
