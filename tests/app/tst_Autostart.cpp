// SPDX-License-Identifier: GPL-3.0-or-later
// The entry that starts Pellisor at login: by name once installed, by its quoted path from a build folder, and in
// either case an entry that the desktop's own validator accepts.

#include "Autostart.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

class tst_Autostart : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void execLine_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<bool>("onPath");
        QTest::addColumn<QString>("exec");
        QTest::addRow("installed, found on PATH") << "bin/pellisor" << true << "Exec=pellisor";
        QTest::addRow("a build folder's copy") << "build/pellisor" << false << "Exec=\"%1/build/pellisor\"";
        QTest::addRow("a path that needs quoting") << "my $build/pellisor" << false
                                                   << "Exec=\"%1/my \\\\$build/pellisor\"";
    }

    void execLine()
    {
        QFETCH(QString, program);
        QFETCH(bool, onPath);
        QFETCH(QString, exec);
        QTemporaryDir dir;
        const QString programPath = dir.filePath(program);
        QVERIFY(QDir().mkpath(QFileInfo(programPath).absolutePath()));
        QFile file(programPath);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.setPermissions(file.permissions() | QFile::ExeOwner);
        file.close();
        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", (onPath ? QFileInfo(programPath).absolutePath().toLocal8Bit() + ':' : QByteArray()) + path);

        QString error;
        const bool written = Autostart::setEnabled(true, programPath, &error);
        qputenv("PATH", path);
        QVERIFY2(written, qPrintable(error));
        QFile entry(Autostart::entryPath());
        QVERIFY(entry.open(QIODevice::ReadOnly));
        QVERIFY2(entry.readAll().split('\n').contains(exec.arg(dir.path()).toUtf8()), qPrintable(entry.fileName()));

        QProcess validate;
        validate.start(QStringLiteral("desktop-file-validate"), {Autostart::entryPath()});
        QVERIFY2(validate.waitForFinished(), "desktop-file-validate (desktop-file-utils) did not run");
        QCOMPARE(validate.readAll(), QByteArray());
        QCOMPARE(validate.exitCode(), 0);
        QVERIFY(Autostart::setEnabled(false, programPath, &error));
        QVERIFY(!Autostart::isEnabled());
    }
};

QTEST_GUILESS_MAIN(tst_Autostart)
#include "tst_Autostart.moc"
