// The real executable on a real (virtual) X display, driven with xdotool the way a user would: the window comes up
// centred and serving, its button shows the alert, a second launch brings the closed window back, Ctrl+Q quits.
// Screenshots of the window and the alert are left in the build tree.

#include "LoopbackClient.h"

#include <QDir>
#include <QImage>
#include <QProcess>
#include <QRect>
#include <QSet>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {

constexpr quint16 applicationPort = 4556;
const QRect screenArea(0, 0, 1280, 800);
// A window in the middle of this many pixels on either side still counts as centred.
constexpr int centringTolerance = 1;
// A drawn window shows the icon's gradient; an undrawn one is a flat colour.
constexpr int fewestColoursOfADrawnWindow = 32;

bool isCentred(const QRect &window)
{
    const QPoint offset = window.center() - screenArea.center();
    return qAbs(offset.x()) <= centringTolerance && qAbs(offset.y()) <= centringTolerance;
}

int distinctColours(const QImage &image)
{
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            colours.insert(image.pixel(x, y));
    return int(colours.size());
}

void stop(QProcess &process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(5000)) {
        process.kill();
        process.waitForFinished();
    }
}

} // namespace

class tst_PellisorOnX11 : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void windowComesUpCentredAndServing();
    void buttonShowsTheAddressAlert();
    void secondLaunchBringsTheClosedWindowBack();
    void ctrlQQuits();

private:
    QProcessEnvironment environment() const;
    QString run(const QString &program, const QStringList &arguments) const;
    QString visibleWindow(const QString &title) const;
    QRect geometry(const QString &window) const;
    QString focusedWindow() const;
    void press(const QString &window, const QString &keys) const;
    QImage screenshot(const QString &window, const QString &fileName) const;

    QTemporaryDir m_home;
    QProcess m_xvfb;
    QProcess m_pellisor;
    QString m_display;
    QString m_window;
};

void tst_PellisorOnX11::initTestCase()
{
    for (const char *tool : {"Xvfb", "xdotool", "import", "curl"}) {
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
            QSKIP(qPrintable(QStringLiteral("%1 is not installed").arg(QLatin1String(tool))));
    }
    QVERIFY(m_home.isValid());
    QVERIFY(QDir().mkpath(QStringLiteral(PELLISOR_SCREENSHOT_DIR)));
    QVERIFY2(!acceptsConnections(applicationPort), "something else is serving port 4556");

    // Xvfb picks a free display itself and writes its number to the descriptor named.
    m_xvfb.start(QStringLiteral("Xvfb"), {"-displayfd", "1", "-screen", "0", "1280x800x24", "-nolisten", "tcp",
                                          "-noreset"});
    QVERIFY(m_xvfb.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(m_xvfb.canReadLine() || m_xvfb.state() == QProcess::NotRunning, 10000);
    m_display = QStringLiteral(":") + QString::fromLatin1(m_xvfb.readLine().trimmed());
    QVERIFY2(m_display.size() > 1, m_xvfb.readAllStandardError().constData());

    m_pellisor.setProcessEnvironment(environment());
    m_pellisor.start(QStringLiteral(PELLISOR_BINARY), QStringList{});
    QVERIFY(m_pellisor.waitForStarted());
}

void tst_PellisorOnX11::cleanupTestCase()
{
    stop(m_pellisor);
    stop(m_xvfb);
}

QProcessEnvironment tst_PellisorOnX11::environment() const
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), m_display);
    environment.insert(QStringLiteral("HOME"), m_home.path());
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_home.path());
    environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
    environment.remove(QStringLiteral("QT_QPA_PLATFORM")); // with a display it must choose X by itself
    return environment;
}

QString tst_PellisorOnX11::run(const QString &program, const QStringList &arguments) const
{
    QProcess process;
    process.setProcessEnvironment(environment());
    process.start(program, arguments);
    process.waitForFinished(10000);
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

QString tst_PellisorOnX11::visibleWindow(const QString &title) const
{
    return run(QStringLiteral("xdotool"), {"search", "--onlyvisible", "--name", '^' + title + '$'})
        .section(u'\n', 0, 0);
}

QRect tst_PellisorOnX11::geometry(const QString &window) const
{
    QMap<QString, int> values;
    const QStringList lines = run(QStringLiteral("xdotool"), {"getwindowgeometry", "--shell", window}).split(u'\n');
    for (const QString &line : lines)
        values.insert(line.section(u'=', 0, 0), line.section(u'=', 1).toInt());
    return QRect(values.value("X"), values.value("Y"), values.value("WIDTH"), values.value("HEIGHT"));
}

QString tst_PellisorOnX11::focusedWindow() const
{
    return run(QStringLiteral("xdotool"), {"getwindowfocus"});
}

void tst_PellisorOnX11::press(const QString &window, const QString &keys) const
{
    // There is no window manager to give focus on a click, so the test gives it.
    run(QStringLiteral("xdotool"), {"windowfocus", "--sync", window});
    run(QStringLiteral("xdotool"), {"key", keys});
}

QImage tst_PellisorOnX11::screenshot(const QString &window, const QString &fileName) const
{
    const QString path = QDir(QStringLiteral(PELLISOR_SCREENSHOT_DIR)).filePath(fileName);
    run(QStringLiteral("import"), {"-window", window, path});
    return QImage(path);
}

void tst_PellisorOnX11::windowComesUpCentredAndServing()
{
    QTRY_VERIFY_WITH_TIMEOUT(!(m_window = visibleWindow("Pellisor")).isEmpty(), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(acceptsConnections(applicationPort), 10000);
    QCOMPARE(run(QStringLiteral("curl"), {"--silent", "--max-time", "10", "http://127.0.0.1:4556/hello"}),
             QStringLiteral("Hello!"));

    const QRect window = geometry(m_window);
    QVERIFY2(isCentred(window), qPrintable(QStringLiteral("window at %1,%2").arg(window.x()).arg(window.y())));

    QImage shot;
    QTRY_VERIFY_WITH_TIMEOUT(distinctColours(shot = screenshot(m_window, "window.png")) >= fewestColoursOfADrawnWindow,
                             10000);
    QCOMPARE(shot.size(), window.size());
}

void tst_PellisorOnX11::buttonShowsTheAddressAlert()
{
    press(m_window, QStringLiteral("alt+i"));
    QString alert;
    QTRY_VERIFY_WITH_TIMEOUT(!(alert = visibleWindow("IP Address")).isEmpty(), 10000);

    QImage shot;
    QTRY_VERIFY_WITH_TIMEOUT(distinctColours(shot = screenshot(alert, "alert.png")) >= fewestColoursOfADrawnWindow,
                             10000);
    QCOMPARE(shot.size(), geometry(alert).size());

    press(alert, QStringLiteral("Return"));
    QTRY_VERIFY_WITH_TIMEOUT(visibleWindow("IP Address").isEmpty(), 10000);
    QVERIFY(!visibleWindow("Pellisor").isEmpty());
}

void tst_PellisorOnX11::secondLaunchBringsTheClosedWindowBack()
{
    press(m_window, QStringLiteral("ctrl+w"));
    QTRY_VERIFY_WITH_TIMEOUT(visibleWindow("Pellisor").isEmpty(), 10000);
    QCOMPARE(m_pellisor.state(), QProcess::Running);

    QProcess second;
    second.setProcessEnvironment(environment());
    second.start(QStringLiteral(PELLISOR_BINARY), QStringList{});
    QVERIFY(second.waitForFinished(5000));
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);

    // Qt gives a closed window a new X window when it is shown again.
    QTRY_VERIFY_WITH_TIMEOUT(!(m_window = visibleWindow("Pellisor")).isEmpty(), 10000);
    QTRY_COMPARE_WITH_TIMEOUT(focusedWindow(), m_window, 10000);
    QVERIFY(isCentred(geometry(m_window)));
    QCOMPARE(run(QStringLiteral("curl"), {"--silent", "--max-time", "10", "http://127.0.0.1:4556/hello"}),
             QStringLiteral("Hello!"));
}

void tst_PellisorOnX11::ctrlQQuits()
{
    press(m_window, QStringLiteral("ctrl+q"));
    QVERIFY(m_pellisor.waitForFinished(5000));
    QCOMPARE(m_pellisor.exitStatus(), QProcess::NormalExit);
    QVERIFY2(m_pellisor.exitCode() == 0, m_pellisor.readAllStandardError().constData());
    QVERIFY(!acceptsConnections(applicationPort));
}

QTEST_GUILESS_MAIN(tst_PellisorOnX11)
#include "tst_PellisorOnX11.moc"
