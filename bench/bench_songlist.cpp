// SPDX-License-Identifier: GPL-3.0-or-later
// Micro-benchmarks of a song list's two halves on a generated 10,000-track library in which no playlist names the
// handset, so every playable track is listed: parsing the library file, and building the body from the parse. And
// what the window's look at the library costs, none of its songs' files being here: read afresh (at start, after a
// choice), and taken from a list just made.
//
//   bench_songlist [--benchmark_* flags]
//
// PELLISOR_BENCH_LIBRARY=<file> uses that library instead of generating one (PELLISOR_BENCH_TRACKS sets the size
// of a generated one).

#include "LibraryLocator.h"
#include "LibrarySurvey.h"
#include "PropertyList.h"
#include "SongListBuilder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

namespace {

QString g_libraryPath;
QString g_homePath; // whose default library is a link to g_libraryPath

void BM_ParseLibrary(benchmark::State &state)
{
    for (auto _ : state) {
        std::optional<PropertyList> list = PropertyList::readFile(g_libraryPath);
        if (!list) {
            state.SkipWithError("the library does not parse");
            return;
        }
        benchmark::DoNotOptimize(list->root());
    }
    state.SetBytesProcessed(state.iterations() * QFileInfo(g_libraryPath).size());
}

void BM_BuildSongList(benchmark::State &state)
{
    const std::optional<PropertyList> list = PropertyList::readFile(g_libraryPath);
    if (!list) {
        state.SkipWithError("the library does not parse");
        return;
    }
    qsizetype bodyBytes = 0;
    qsizetype songs = 0;
    for (auto _ : state) {
        TrackIndex index;
        const QByteArray body = SongListBuilder::build(list->root(), QString(), index);
        bodyBytes = body.size();
        songs = index.size();
        benchmark::DoNotOptimize(body.constData());
    }
    // A label rather than counters: the CSV report needs every benchmark to have the same counters.
    state.SetLabel(std::to_string(songs) + " songs, " + std::to_string(bodyBytes) + " body bytes");
    state.SetItemsProcessed(state.iterations() * songs);
}

// The whole of what one request costs apart from the network: parse, then build.
void BM_ParseAndBuild(benchmark::State &state)
{
    for (auto _ : state) {
        std::optional<PropertyList> list = PropertyList::readFile(g_libraryPath);
        if (!list) {
            state.SkipWithError("the library does not parse");
            return;
        }
        TrackIndex index;
        const QByteArray body = SongListBuilder::build(list->root(), QString(), index);
        benchmark::DoNotOptimize(body.constData());
    }
    state.SetBytesProcessed(state.iterations() * QFileInfo(g_libraryPath).size());
}

void BM_LibrarySurvey(benchmark::State &state)
{
    for (auto _ : state) {
        const LibraryStatus status = LibrarySurvey::read(g_homePath, {});
        if (status.state != LibraryStatus::State::Read) {
            state.SkipWithError("the library does not read");
            return;
        }
        benchmark::DoNotOptimize(status.missingFiles);
    }
}

void BM_LibrarySurveyFromList(benchmark::State &state)
{
    std::optional<PropertyList> library = PropertyList::readFile(g_libraryPath);
    if (!library) {
        state.SkipWithError("the library does not parse");
        return;
    }
    SongList list;
    list.libraryPath = LibraryLocator::libraryPath(g_homePath);
    list.musicFolder = library->root().value(QLatin1StringView("Music Folder")).toString();
    list.body = SongListBuilder::buildPieces(std::move(*library), QString(), list.index);
    for (auto _ : state)
        benchmark::DoNotOptimize(LibrarySurvey::fromList(list, g_homePath, {}).missingFiles);
}

BENCHMARK(BM_ParseLibrary)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_BuildSongList)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ParseAndBuild)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_LibrarySurvey)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_LibrarySurveyFromList)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 2;

    QTemporaryDir dir;
    if (const char *given = std::getenv("PELLISOR_BENCH_LIBRARY")) {
        g_libraryPath = QString::fromLocal8Bit(given);
    } else {
        const char *tracks = std::getenv("PELLISOR_BENCH_TRACKS");
        g_libraryPath = dir.filePath(QStringLiteral("library.xml"));
        const int code = QProcess::execute(QStringLiteral(PELLISOR_LIBRARY_GENERATOR),
                                           {QStringLiteral("--tracks"), QString::fromLatin1(tracks ? tracks : "10000"),
                                            QStringLiteral("--device-playlist"), QStringLiteral("Other"),
                                            QStringLiteral("--output"), g_libraryPath});
        if (code != 0) {
            std::fprintf(stderr, "could not generate the library (exit %d)\n", code);
            return 1;
        }
    }
    g_homePath = dir.filePath(QStringLiteral("home"));
    const QString defaultLibrary = g_homePath + QStringLiteral("/Music/iTunes/iTunes Music Library.xml");
    if (!QDir().mkpath(QFileInfo(defaultLibrary).path())
        || !QFile::link(QFileInfo(g_libraryPath).absoluteFilePath(), defaultLibrary)) {
        std::fprintf(stderr, "could not make a home folder for the library\n");
        return 1;
    }
    benchmark::AddCustomContext("library", g_libraryPath.toStdString());
    benchmark::AddCustomContext("library_bytes", std::to_string(QFileInfo(g_libraryPath).size()));
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
