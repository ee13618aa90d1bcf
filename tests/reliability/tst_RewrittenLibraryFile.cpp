// PropertyList::readFile on a file that another thread keeps rewriting in place, growing and shrinking it: every
// read gives a well-formed list or nothing, and never touches memory it does not own (the sanitizer build tells).
// A read can meet the two versions spliced where they line up into a list that was never written whole: no reader
// of a file rewritten in place can rule that out, so it is counted, not refused. The end-to-end version of this,
// through the song list, is in tst_HostileLibraries.

#include "PropertyList.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

namespace {

QByteArray listWithTracks(int tracks, const char *name)
{
    QByteArray xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n<key>Name</key><string>"
                     + QByteArray(name) + "</string>\n<key>Tracks</key>\n<dict>\n";
    for (int i = 0; i < tracks; ++i) {
        xml += "<key>" + QByteArray::number(i) + "</key><dict><key>Track ID</key><integer>" + QByteArray::number(i)
               + "</integer><key>Name</key><string>Track " + QByteArray::number(i) + "</string></dict>\n";
    }
    return xml + "</dict>\n</dict>\n</plist>\n";
}

} // namespace

class tst_RewrittenLibraryFile : public QObject
{
    Q_OBJECT

private slots:
    void readsWholeListsOrNothingWhileTheFileChanges();
};

void tst_RewrittenLibraryFile::readsWholeListsOrNothingWhileTheFileChanges()
{
    // A small and a large list, so that the file's size keeps changing under the reader.
    const QByteArray small = listWithTracks(50, "small");
    const QByteArray large = listWithTracks(20000, "large");
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("library.xml"));
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(small);
    }

    std::atomic<bool> stop = false;
    std::thread writer([&] {
        const QByteArray encoded = QFile::encodeName(path);
        for (int round = 0; !stop; ++round) {
            const QByteArray &bytes = round % 2 ? large : small;
            const int descriptor = ::open(encoded.constData(), O_WRONLY | O_CLOEXEC);
            if (descriptor < 0)
                return;
            if (::pwrite(descriptor, bytes.constData(), size_t(bytes.size()), 0) != bytes.size()
                || ::ftruncate(descriptor, bytes.size()) != 0) {
                ::close(descriptor);
                return;
            }
            ::close(descriptor);
        }
    });
    const auto stopWriting = qScopeGuard([&] {
        stop = true;
        writer.join();
    });

    int wholeLists = 0;
    int splices = 0;
    int refusals = 0;
    const QDeadlineTimer deadline(3000);
    for (int read = 0; read < 2000 && !deadline.hasExpired(); ++read) {
        const std::optional<PropertyList> list = PropertyList::readFile(path);
        if (!list) {
            ++refusals;
            continue;
        }
        const QString name = list->root().value(QLatin1StringView("Name")).toString();
        const qsizetype tracks = list->root().value(QLatin1StringView("Tracks")).count();
        QVERIFY(list->root().isDictionary());
        QVERIFY2(name == u"small" || name == u"large", qPrintable(name));
        QVERIFY(tracks <= 20000);
        if ((name == u"small" && tracks == 50) || (name == u"large" && tracks == 20000))
            ++wholeLists;
        else
            ++splices;
    }
    qInfo("%d whole lists, %d spliced lists, %d refusals", wholeLists, splices, refusals);
    QVERIFY(wholeLists + splices + refusals > 20);
}

QTEST_GUILESS_MAIN(tst_RewrittenLibraryFile)
#include "tst_RewrittenLibraryFile.moc"
