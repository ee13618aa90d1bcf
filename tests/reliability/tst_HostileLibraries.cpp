// Libraries made to hurt the reader: cut short, nested without end, declaring entities, holding a gigabyte string,
// or rewritten while they are read. Each is answered with the 400 that names the file, or for a rewrite with one of
// the whole lists, in bounded time and memory; the server, a process of its own here, never crashes.

#include "LoopbackClient.h"
#include "ServerProcess.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QScopeGuard>
#include <QTest>

#include <atomic>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

namespace {

const QByteArray listRequest = "GET /getSongList HTTP/1.1\r\n\r\n";
const QByteArray helloRequest = "GET /hello HTTP/1.1\r\n\r\n";
const QByteArray helloResponse = "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nConnection: close\r\n"
                                 "Content-Length: 6\r\n\r\nHello!";
const QByteArray plistHead = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n";

// Memory a list may take beyond the library file's own bytes, which the reader holds while it parses.
constexpr qint64 parseOverheadKilobytes = 128 * 1024;
constexpr qint64 gigabyte = 1000 * 1000 * 1000;

QByteArray errorResponse(const QByteArray &message)
{
    return "HTTP/1.1 400 Bad Request\r\nContent-Type: text/plain\r\nConnection: close\r\nContent-Length: "
           + QByteArray::number(message.size()) + "\r\n\r\n" + message;
}

QByteArray fixture(const char *name)
{
    QFile file(QStringLiteral(PELLISOR_FIXTURES_DIR "/") + QLatin1StringView(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeAll(int descriptor, QByteArrayView bytes)
{
    while (!bytes.isEmpty()) {
        const ssize_t written = ::write(descriptor, bytes.data(), size_t(bytes.size()));
        if (written <= 0)
            return false;
        bytes = bytes.sliced(written);
    }
    return true;
}

} // namespace

class tst_HostileLibraries : public QObject
{
    Q_OBJECT

public:
    enum class Kind { Truncated, DeepNesting, EntityExpansion, ExternalEntity, GigabyteString, OverSizeLimit };
    Q_ENUM(Kind)

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void refusesAHostileLibrary_data();
    void refusesAHostileLibrary();
    void answersWholeListsWhileTheLibraryIsRewritten();

private:
    QString libraryPath() const { return m_home->path() + "/Music/iTunes/iTunes Music Library.xml"; }
    bool writeLibrary(Kind kind);
    QByteArray unableToLoad() const
    {
        return errorResponse("An unexpected error occurred sending the song list: Unable to load iTunes Library XML "
                             "file. (" + QFile::encodeName(libraryPath()) + ")");
    }

    std::unique_ptr<QTemporaryDir> m_home;
};

void tst_HostileLibraries::initTestCase()
{
}

void tst_HostileLibraries::init()
{
    m_home = std::make_unique<QTemporaryDir>();
    QVERIFY(QDir().mkpath(m_home->path() + "/Music/iTunes"));
}

void tst_HostileLibraries::cleanup()
{
    m_home.reset();
}

bool tst_HostileLibraries::writeLibrary(Kind kind)
{
    QFile file(libraryPath());
    if (!file.open(QIODevice::WriteOnly))
        return false;
    switch (kind) {
    case Kind::Truncated: {
        const QByteArray whole = fixture("liamks_libpytunes__Test_Library.xml");
        return !whole.isEmpty() && file.write(whole.first(whole.size() / 2 + 7)) > 0;
    }
    case Kind::DeepNesting: {
        constexpr int levels = 100000;
        return file.write(plistHead + "<key>Tracks</key>\n" + QByteArray("<array>").repeated(levels)
                          + QByteArray("</array>").repeated(levels) + "\n</dict>\n</plist>\n")
               > 0;
    }
    case Kind::EntityExpansion: {
        // Ten times ten times ... a thousand million "lol"s, from under a kilobyte.
        QByteArray entities = "<!ENTITY lol0 \"lol\">\n";
        for (int i = 1; i <= 9; ++i) {
            entities += "<!ENTITY lol" + QByteArray::number(i) + " \""
                        + QByteArray("&lol" + QByteArray::number(i - 1) + ";").repeated(10) + "\">\n";
        }
        return file.write("<?xml version=\"1.0\"?>\n<!DOCTYPE plist [\n" + entities + "]>\n<plist version=\"1.0\">\n"
                          "<dict><key>Tracks</key><dict><key>1</key><dict><key>Name</key><string>&lol9;</string>"
                          "</dict></dict></dict>\n</plist>\n")
               > 0;
    }
    case Kind::ExternalEntity:
        return file.write("<?xml version=\"1.0\"?>\n<!DOCTYPE plist [\n<!ENTITY secret SYSTEM \"file:///etc/passwd\">"
                          "\n]>\n<plist version=\"1.0\">\n<dict><key>Tracks</key><dict><key>1</key><dict><key>Name"
                          "</key><string>&secret;</string></dict></dict></dict>\n</plist>\n")
               > 0;
    case Kind::GigabyteString: {
        // A name that never ends: the reader has to go through all of it to find that out.
        if (file.write(plistHead + "<key>Tracks</key><dict><key>1</key><dict><key>Name</key><string>") <= 0)
            return false;
        const QByteArray block(1 << 20, 'a');
        for (qint64 written = 0; written < gigabyte; written += block.size()) {
            if (file.write(block.first(std::min<qint64>(block.size(), gigabyte - written))) <= 0)
                return false;
        }
        return true;
    }
    case Kind::OverSizeLimit:
        // Larger than any library the reader takes; sparse, so it costs no disk.
        return file.write(plistHead) > 0 && file.resize(qint64(3) << 30);
    }
    return false;
}

void tst_HostileLibraries::refusesAHostileLibrary_data()
{
    QTest::addColumn<Kind>("kind");
    QTest::addRow("truncated") << Kind::Truncated;
    QTest::addRow("100,000 levels of nesting") << Kind::DeepNesting;
    QTest::addRow("entity declarations (a billion laughs)") << Kind::EntityExpansion;
    QTest::addRow("an external entity") << Kind::ExternalEntity;
    QTest::addRow("a 1 GB string") << Kind::GigabyteString;
    QTest::addRow("3 GiB, over the size limit") << Kind::OverSizeLimit;
}

void tst_HostileLibraries::refusesAHostileLibrary()
{
    QFETCH(Kind, kind);
    QVERIFY(writeLibrary(kind));
    const qint64 fileKilobytes = QFileInfo(libraryPath()).size() / 1024;

    ServerProcess server({m_home->path()});
    QVERIFY(server.port() != 0);
    const qint64 baselineKilobytes = server.statusKilobytes("VmHWM");
    QVERIFY(baselineKilobytes > 0);

    QElapsedTimer elapsed;
    elapsed.start();
    LoopbackClient client(server.port());
    QVERIFY(client.send(listRequest));
    QVERIFY2(client.readToEnd(30000), "no answer in 30 s");
    const qint64 answeredMs = elapsed.elapsed();
    const qint64 grownKilobytes = server.statusKilobytes("VmHWM") - baselineKilobytes;
    qInfo("answered in %lld ms; peak memory grew by %lld MB for a file of %lld MB", answeredMs,
          grownKilobytes / 1024, fileKilobytes / 1024);

    QCOMPARE(client.received(), unableToLoad());
    QVERIFY2(answeredMs < 15000, "too slow");
    // The reader may hold the file's bytes, never a multiple of them, and nothing of what entities would expand to.
    QVERIFY2(grownKilobytes < std::min(fileKilobytes, qint64(1) << 30 >> 10) + parseOverheadKilobytes,
             "too much memory");
    QCOMPARE(fetch(server.port(), helloRequest), helloResponse);
    QCOMPARE(server.terminate(), 0);
}

void tst_HostileLibraries::answersWholeListsWhileTheLibraryIsRewritten()
{
    // Two libraries of different shapes, each written whole once to learn its list.
    const QByteArray libraries[] = {fixture("liamks_libpytunes__Test_Library.xml"),
                                    fixture("jonaustin_lastfm-itunes__iTunes_Music_Library.xml")};
    QVERIFY(!libraries[0].isEmpty() && !libraries[1].isEmpty());
    ServerProcess server({m_home->path()});
    QVERIFY(server.port() != 0);
    QByteArray lists[2];
    for (int i = 0; i < 2; ++i) {
        QFile file(libraryPath());
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QCOMPARE(file.write(libraries[i]), libraries[i].size());
        file.close();
        lists[i] = fetch(server.port(), listRequest);
        QVERIFY(lists[i].startsWith("HTTP/1.1 200 OK\r\n"));
    }
    QVERIFY(lists[0] != lists[1]);

    // Rewritten in place in small pieces, and shrunk under the reader's feet: what a reader that maps the file
    // would die of (SIGBUS) when a page it holds goes past the end.
    std::atomic<bool> stop = false;
    std::atomic<int> rewrites = 0;
    const std::string path = QFile::encodeName(libraryPath()).toStdString();
    std::thread writer([&] {
        for (int round = 0; !stop && round < 100000; ++round) {
            const QByteArray &bytes = libraries[round % 2];
            const int descriptor = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
            if (descriptor < 0)
                return;
            if (round % 3 == 0) {
                ::ftruncate(descriptor, bytes.size() / 3);
                ::pwrite(descriptor, bytes.constData(), size_t(bytes.size()), 0);
            } else {
                ::ftruncate(descriptor, 0);
                for (qsizetype at = 0; at < bytes.size(); at += 16 * 1024)
                    writeAll(descriptor, QByteArrayView(bytes).sliced(at, std::min<qsizetype>(16 * 1024, bytes.size() - at)));
            }
            ::ftruncate(descriptor, bytes.size());
            ::close(descriptor);
            ++rewrites;
        }
    });
    const auto stopWriting = [&] {
        stop = true;
        if (writer.joinable())
            writer.join();
    };
    const auto stopWritingOnFailure = qScopeGuard(stopWriting);

    // Two versions spliced where they line up can make a list that was never written whole; no reader of a file
    // rewritten in place can rule that out. Such an answer must still be a whole, well-formed list.
    auto isWholeList = [](const QByteArray &answer) {
        const qsizetype headEnd = answer.indexOf("\r\n\r\n") + 4;
        const QByteArray body = answer.mid(headEnd);
        return headEnd > 4 && answer.startsWith("HTTP/1.1 200 OK\r\n")
               && answer.first(headEnd).contains("\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n")
               && body.startsWith("<songs>\r\n") && body.endsWith("</songs>");
    };
    int answers[4] = {};
    const QDeadlineTimer deadline(40000);
    for (int request = 0; request < 300 && !deadline.hasExpired(); ++request) {
        const QByteArray answer = fetch(server.port(), listRequest);
        if (answer == lists[0])
            ++answers[0];
        else if (answer == lists[1])
            ++answers[1];
        else if (answer == unableToLoad())
            ++answers[2];
        else if (isWholeList(answer))
            ++answers[3];
        else
            QFAIL(qPrintable("neither a whole list nor the 400: " + answer.left(300)));
        QVERIFY2(server.isRunning(), "the server died");
    }
    stopWriting();
    qInfo("%d rewrites; answers: %d of one list, %d of the other, %d spliced, %d refusals", rewrites.load(),
          answers[0], answers[1], answers[3], answers[2]);
    QVERIFY(rewrites > 10);
    QVERIFY(answers[0] + answers[1] + answers[2] + answers[3] > 10);
    QCOMPARE(server.terminate(), 0);
}

QTEST_GUILESS_MAIN(tst_HostileLibraries)
#include "tst_HostileLibraries.moc"
