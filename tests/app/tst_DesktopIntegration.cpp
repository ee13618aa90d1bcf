// What `cmake --install` puts on a desktop: the program, its menu entry and its icon.

#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QXmlStreamReader>

namespace {

// The keys of a desktop file's main group, values as written (QSettings would read ';' as a comment).
QMap<QString, QString> desktopEntryKeys(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    QMap<QString, QString> keys;
    bool inMainGroup = false;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.startsWith(u'['))
            inMainGroup = line == QLatin1String("[Desktop Entry]");
        else if (inMainGroup && line.contains(u'=') && !line.startsWith(u'#'))
            keys.insert(line.section(u'=', 0, 0).trimmed(), line.section(u'=', 1).trimmed());
    }
    return keys;
}

} // namespace

class tst_DesktopIntegration : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void installsTheProgram();
    void installsADesktopEntry();
    void installsTheIcon();

private:
    QString installed(const QString &relativePath) const { return m_prefix.filePath(relativePath); }

    QTemporaryDir m_prefix;
};

void tst_DesktopIntegration::initTestCase()
{
    QVERIFY(m_prefix.isValid());
    QProcess install;
    install.setProcessChannelMode(QProcess::MergedChannels);
    install.start(QStringLiteral(PELLISOR_CMAKE_COMMAND),
                  {"--install", PELLISOR_BUILD_DIR, "--component", "pellisor", "--prefix", m_prefix.path()});
    QVERIFY(install.waitForFinished(60000));
    QVERIFY2(install.exitStatus() == QProcess::NormalExit && install.exitCode() == 0, install.readAll().constData());
}

void tst_DesktopIntegration::installsTheProgram()
{
    const QFileInfo program(installed("bin/pellisor"));
    QVERIFY(program.isFile());
    QVERIFY(program.isExecutable());
}

void tst_DesktopIntegration::installsADesktopEntry()
{
    const QString path = installed("share/applications/pellisor.desktop");
    QVERIFY(QFileInfo(path).isFile());
    const QMap<QString, QString> entry = desktopEntryKeys(path);
    QCOMPARE(entry.value("Type"), QStringLiteral("Application"));
    QCOMPARE(entry.value("Name"), QStringLiteral("Pellisor"));
    QCOMPARE(entry.value("Exec"), QStringLiteral("pellisor"));
    QCOMPARE(entry.value("Icon"), QStringLiteral("pellisor"));
    QCOMPARE(entry.value("Categories"), QStringLiteral("AudioVideo;Audio;Network;"));

    const QString validator = QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
    if (validator.isEmpty())
        return;
    QProcess validate;
    validate.setProcessChannelMode(QProcess::MergedChannels);
    validate.start(validator, {path});
    QVERIFY(validate.waitForFinished());
    QVERIFY2(validate.exitCode() == 0, validate.readAll().constData());
}

void tst_DesktopIntegration::installsTheIcon()
{
    QFile scalable(installed("share/icons/hicolor/scalable/apps/pellisor.svg"));
    QVERIFY(scalable.open(QIODevice::ReadOnly));
    QXmlStreamReader svg(&scalable);
    QVERIFY(svg.readNextStartElement());
    QCOMPARE(svg.name(), QStringLiteral("svg"));
    while (!svg.atEnd())
        svg.readNext();
    QVERIFY2(!svg.hasError(), qPrintable(svg.errorString()));

    const QImage bitmap(installed("share/icons/hicolor/256x256/apps/pellisor.png"));
    QCOMPARE(bitmap.size(), QSize(256, 256));
    QVERIFY(bitmap.hasAlphaChannel());
}

QTEST_GUILESS_MAIN(tst_DesktopIntegration)
#include "tst_DesktopIntegration.moc"
