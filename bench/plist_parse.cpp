// SPDX-License-Identifier: GPL-3.0-or-later
// Times PropertyList on an iTunes library the way the song list uses it: parse, then read a few fields of every
// track. Prints the median of several runs next to the floor of reading the file and counting '<'.
//
//   plist_parse <library.xml> [runs]        (runs = 0: one parse and walk, for measuring peak memory)

#include "PropertyList.h"

#include <QElapsedTimer>
#include <QFile>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

struct WalkResult
{
    qint64 trackIdSum = 0;
    qint64 textBytes = 0;
    qint64 disabled = 0;
    qint64 tracks = 0;
};

WalkResult walkTracks(const PropertyList &list)
{
    WalkResult result;
    const PlistValue tracks = list.root().value(QLatin1StringView("Tracks"));
    for (qsizetype i = 0; i < tracks.count(); ++i) {
        const PlistValue track = tracks.valueAt(i);
        result.trackIdSum += track.value(QLatin1StringView("Track ID")).toInteger();
        for (const char *key : {"Location", "Name", "Artist", "Album"})
            result.textBytes += track.value(QLatin1StringView(key)).toString().size();
        result.disabled += track.contains(QLatin1StringView("Disabled"));
        ++result.tracks;
    }
    return result;
}

// The floor: read the file through a small buffer and count '<' with memchr.
qint64 countAngleBrackets(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return -1;
    std::vector<char> buffer(size_t(1) << 17);
    qint64 count = 0;
    qint64 got;
    while ((got = file.read(buffer.data(), qint64(buffer.size()))) > 0) {
        const char *p = buffer.data();
        const char *end = p + got;
        while ((p = static_cast<const char *>(std::memchr(p, '<', size_t(end - p))))) {
            ++count;
            ++p;
        }
    }
    return count;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <library.xml> [runs]\n", argv[0]);
        return 2;
    }
    const QString path = QString::fromLocal8Bit(argv[1]);
    const int runs = argc > 2 ? std::atoi(argv[2]) : 5;
    std::vector<double> parseMs, walkMs, floorMs;
    for (int run = 0; run < std::max(runs, 1); ++run) {
        QElapsedTimer timer;
        if (runs > 0) {
            timer.start();
            const qint64 brackets = countAngleBrackets(path);
            floorMs.push_back(timer.nsecsElapsed() / 1e6);
            if (brackets < 0)
                return 1;
        }
        timer.start();
        const std::optional<PropertyList> list = PropertyList::readFile(path);
        parseMs.push_back(timer.nsecsElapsed() / 1e6);
        if (!list) {
            std::fprintf(stderr, "not a property list\n");
            return 1;
        }
        timer.start();
        const WalkResult result = walkTracks(*list);
        walkMs.push_back(timer.nsecsElapsed() / 1e6);
        std::printf("run %d: parse %.1f ms, walk %.1f ms\n", run + 1, parseMs.back(), walkMs.back());
        if (run == 0)
            std::printf("tracks %lld, id sum %lld, text %lld chars, disabled %lld\n", qlonglong(result.tracks),
                        qlonglong(result.trackIdSum), qlonglong(result.textBytes), qlonglong(result.disabled));
    }
    std::vector<double> totalMs(parseMs.size());
    for (size_t i = 0; i < parseMs.size(); ++i)
        totalMs[i] = parseMs[i] + walkMs[i];
    std::printf("median of %zu: parse %.1f ms, walk %.1f ms, parse+walk %.1f ms", parseMs.size(), median(parseMs),
                median(walkMs), median(totalMs));
    if (!floorMs.empty())
        std::printf(", floor (read + memchr '<') %.1f ms", median(floorMs));
    std::printf("\n");
    return 0;
}
