// SPDX-License-Identifier: GPL-3.0-or-later
#include "SongListBuilder.h"

#include "AsciiText.h"
#include "DictionaryScan.h"
#include "HugePages.h"
#include "PlayableTrack.h"
#include "SecondThread.h"
#include "SongLocation.h"
#include "TrackRuns.h"
#include "Utf8Text.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>
#include <exception>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

namespace {

// The longest text one code unit of a field becomes in the body: "&amp;".
constexpr qsizetype maxEncodedBytesPerUnit = 5;

// A generous guess at one listed song's line, so the body is rarely copied as it grows.
constexpr qsizetype estimatedLineBytes = 200;

// Below this a list is quick enough that a second thread would cost more than it saves.
constexpr qsizetype minTracksToShare = 2000;

// toLossyAscii() of every UTF-16 code unit met so far: a name in another script would otherwise ask for
// a character's decomposition (an allocation) at each of its letters. The function is pure, so this is no cache
// of the library.
class LossyAsciiTable
{
public:
    char operator()(QChar c)
    {
        char &known = m_table[c.unicode()];
        if (!known)
            known = toLossyAscii(c);
        return known;
    }

private:
    std::array<char, 0x10000> m_table{}; // 0: not looked up yet (U+0000 is ASCII and maps to itself cheaply)
};

// The body that is sent: a QByteArray. A large one is fresh memory written once, so it is given huge pages; the
// QByteArray owns its block, so it asks the heap for enough to be a mapping of its own.
struct SentBuffer
{
    QByteArray bytes;

    char *data() { return bytes.data(); }
    qsizetype size() const { return bytes.size(); }
    void resize(qsizetype size)
    {
        if (size_t(size) < HugePages::worthwhileBytes) {
            bytes.resize(size);
            return;
        }
        bytes.resize(qsizetype(HugePages::heapRequest(size_t(size))));
        HugePages::advise(bytes.data(), size_t(bytes.size()));
    }
};

// Writes the list straight into the ASCII it is sent in. Converting piece by piece gives the same bytes as
// converting the whole text, since the conversion works one code unit at a time.
class BodyWriter
{
public:
    explicit BodyWriter(qsizetype expectedSongs) { m_body.resize(expectedSongs * estimatedLineBytes + 32); }

    void append(QByteArrayView ascii)
    {
        char *out = reserve(ascii.size());
        std::memcpy(out, ascii.data(), size_t(ascii.size()));
        m_size += ascii.size();
    }

    // A field as the list writes it: "&", ">" and "<" as entities, white space trimmed from both ends.
    // Trimming first gives the same text as escaping first, since escaping leaves white space alone.
    void appendEncoded(QStringView text)
    {
        appendEncodedUnits(text, [](QChar c) { return c.isSpace(); }, [this](QChar c) { return m_lossy(c); });
    }

    // The same from UTF-8. Most fields are plain ASCII and go straight from the library's bytes.
    void appendEncoded(QByteArrayView utf8)
    {
        if (!isAscii(utf8)) {
            appendEncoded(textFromUtf8(utf8));
            return;
        }
        appendEncodedUnits(utf8, [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }, [](char c) { return c; });
    }

    QByteArray take()
    {
        m_body.bytes.truncate(m_size);
        return std::move(m_body.bytes);
    }

private:
    static char16_t codeUnit(QChar c) { return c.unicode(); }
    static char16_t codeUnit(char c) { return static_cast<unsigned char>(c); }

    static bool isAscii(QByteArrayView bytes)
    {
        return std::all_of(bytes.begin(), bytes.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    }

    template<class Text, class IsSpace, class ToAscii>
    void appendEncodedUnits(const Text &text, IsSpace isSpace, ToAscii toAscii)
    {
        qsizetype begin = 0;
        qsizetype end = text.size();
        while (begin < end && isSpace(text[begin]))
            ++begin;
        while (end > begin && isSpace(text[end - 1]))
            --end;

        char *const start = reserve((end - begin) * maxEncodedBytesPerUnit);
        char *out = start;
        for (qsizetype i = begin; i < end; ++i) {
            switch (codeUnit(text[i])) {
            case u'&': out = std::copy_n("&amp;", 5, out); break;
            case u'>': out = std::copy_n("&gt;", 4, out); break;
            case u'<': out = std::copy_n("&lt;", 4, out); break;
            default: *out++ = toAscii(text[i]);
            }
        }
        m_size += out - start;
    }

    // Room for `bytes` more at the end; the buffer is only ever grown, and cut to what was written by take().
    char *reserve(qsizetype bytes)
    {
        if (m_size + bytes > m_body.size())
            m_body.resize(std::max(m_body.size() * 2, m_size + bytes));
        return m_body.data() + m_size;
    }

    SentBuffer m_body;
    qsizetype m_size = 0;
    LossyAsciiTable m_lossy;
};

QByteArrayView textOr(QByteArrayView text, QByteArrayView fallback)
{
    return text.isEmpty() ? fallback : text;
}

// One run of tracks listed in order, into a piece of the body and a part of the index of its own. Each track is
// read once, so with a library used up the memory of those listed goes back as the list goes: the body and the
// index grow as the library's text shrinks.
struct ListedRun
{
    ListedRun(qsizetype begin, qsizetype expectedSongs, TrackIndex *firstIndex)
        : begin(begin)
        , body(expectedSongs)
        , index(firstIndex ? *firstIndex : ownIndex)
    {
        index.reserve(expectedSongs);
    }

    const qsizetype begin;
    BodyWriter body;
    TrackIndex ownIndex;
    TrackIndex &index;
    // Where a field's text has to be decoded; reused from track to track.
    QByteArray locationText, nameText, albumText, artistText, fileNameText;
};

// What the list reads of each track.
enum { TrackId, Disabled, Location, Name, Album, Artist };
constexpr std::array trackKeys{QLatin1StringView("Track ID"), QLatin1StringView("Disabled"),
                               QLatin1StringView("Location"), QLatin1StringView("Name"),
                               QLatin1StringView("Album"), QLatin1StringView("Artist")};

// Writes the lines of the batch's tracks that are listed, and adds each listed song to the run's index.
void listTracks(DictionaryScan &tracks, const TrackRuns::Batch &batch, const QSet<QString> &filter, ListedRun &run)
{
    for (qsizetype i = batch.begin; i < batch.end; ++i) {
        tracks.readUpTo(run.begin, i);
        const auto fields = tracks.values(i, batch.runEnd, trackKeys);
        // trackIdText() in digits on the stack: most tracks need no string of it.
        char idDigits[16];
        const qint32 id = qint32(fields[TrackId].toInteger());
        const QLatin1StringView trackId(idDigits, std::to_chars(idDigits, idDigits + sizeof idDigits, id).ptr);
        // The cheapest test first: the tests have no effects, so their order does not change what is listed.
        if (!filter.isEmpty() && !filter.contains(QString(trackId)))
            continue;
        const QByteArrayView location = DictionaryScan::utf8(fields[Location], run.locationText);
        const std::string_view locationBytes(location.data(), size_t(location.size()));
        if (!PlayableTrack::isPlayable(!fields[Disabled].isAbsent(), locationBytes))
            continue;

        BodyWriter &body = run.body;
        body.append("<song><trackid>");
        body.append(QByteArrayView(trackId.data(), trackId.size()));
        body.append("</trackid><name>");
        body.appendEncoded(DictionaryScan::utf8(fields[Name], run.nameText));
        body.append("</name><album>");
        body.appendEncoded(textOr(DictionaryScan::utf8(fields[Album], run.albumText), "Unknown Album"));
        body.append("</album><artist>");
        body.appendEncoded(textOr(DictionaryScan::utf8(fields[Artist], run.artistText), "Unknown Artist"));
        body.append("</artist><filename>");
        body.appendEncoded(SongLocation::fileNameUtf8(location, run.fileNameText));
        body.append("</filename></song>\r\n");
        run.index.add(id, location);
    }
}

// The tracks that `filter` lets through (all when it is empty), in pieces, from the first track to the last.
QByteArrayList listPieces(DictionaryScan &tracks, const QSet<QString> &filter, TrackIndex &index)
{
    const qsizetype count = tracks.count();
    const qsizetype expectedSongs = filter.isEmpty() ? count : filter.size();

    // A large library is listed by two threads at once, the second on a thread of its own: by the time the list is
    // built the library has been read, and the core that read it would otherwise stand idle. Each run of tracks
    // becomes a piece of the body, sent one after another rather than joined, which would hold them twice.
    TrackRuns runs(count >= minTracksToShare ? count / 2 : count, count);
    std::array<std::vector<std::unique_ptr<ListedRun>>, 2> listed;
    const auto listShare = [&](int thread) {
        for (std::optional<TrackRuns::Span> span = runs.start(thread); span; span = runs.takeOver(thread)) {
            const qsizetype expected = count > 0 ? expectedSongs * (span->end - span->begin) / count : 0;
            auto &run = listed[thread].emplace_back(
                std::make_unique<ListedRun>(span->begin, expected, span->begin == 0 ? &index : nullptr));
            if (span->begin == 0)
                run->body.append("<songs>\r\n");
            // A few dozen tracks at a time: the other thread may take the far end of the run meanwhile.
            constexpr qsizetype batchSize = 64;
            for (TrackRuns::Batch batch; (batch = runs.next(thread, batchSize)).begin < batch.end;)
                listTracks(tracks, batch, filter, *run);
        }
    };
    if (count >= minTracksToShare) {
        std::exception_ptr helperFailed;
        SecondThread helper([&] {
            try {
                listShare(1);
            } catch (...) {
                helperFailed = std::current_exception();
            }
        });
        listShare(0);
        helper.join();
        if (helperFailed)
            std::rethrow_exception(helperFailed);
    } else {
        listShare(0);
    }

    std::vector<ListedRun *> inOrder;
    for (const auto &threadRuns : listed)
        for (const auto &run : threadRuns)
            inOrder.push_back(run.get());
    std::sort(inOrder.begin(), inOrder.end(), [](const ListedRun *a, const ListedRun *b) {
        return a->begin < b->begin;
    });
    inOrder.back()->body.append("</songs>");
    QByteArrayList pieces;
    for (ListedRun *run : inOrder) {
        if (&run->index != &index)
            index.append(run->ownIndex);
        pieces.append(run->body.take());
    }
    return pieces;
}

QSet<QString> deviceFilter(const PlistValue &library, const QString &deviceValue)
{
    const PlistValue playlists = library.value(QLatin1StringView("Playlists"));
    return SongListBuilder::playlistFilter(
        SongListBuilder::choosePlaylist(playlists, SongListBuilder::wantedPlaylistName(deviceValue)));
}

} // namespace

QString SongListBuilder::wantedPlaylistName(const QString &deviceValue)
{
    return deviceValue == QLatin1StringView("bb10") ? QStringLiteral("blackberry") : QStringLiteral("playbook");
}

PlistValue SongListBuilder::choosePlaylist(const PlistValue &playlists, const QString &wantedName)
{
    for (qsizetype i = 0; i < playlists.count(); ++i) {
        const PlistValue playlist = playlists.at(i);
        const QString name = playlist.value(QLatin1StringView("Name")).toString();
        if (!name.isNull() && name.toLower() == wantedName)
            return playlist;
    }
    if (wantedName == QLatin1StringView("blackberry"))
        return choosePlaylist(playlists, QStringLiteral("playbook"));
    return {};
}

QSet<QString> SongListBuilder::playlistFilter(const PlistValue &playlist)
{
    QSet<QString> trackIds;
    const PlistValue items = playlist.value(QLatin1StringView("Playlist Items"));
    for (qsizetype i = 0; i < items.count(); ++i)
        trackIds.insert(trackIdText(items.at(i)));
    return trackIds;
}

QString SongListBuilder::trackIdText(const PlistValue &value)
{
    return QString::number(qint32(value.value(QLatin1StringView("Track ID")).toInteger()));
}

QByteArray SongListBuilder::build(const PlistValue &library, const QString &deviceValue, TrackIndex &index)
{
    DictionaryScan tracks(library.value(QLatin1StringView("Tracks")));
    return listPieces(tracks, deviceFilter(library, deviceValue), index).join();
}

QByteArrayList SongListBuilder::buildPieces(PropertyList &&library, const QString &deviceValue, TrackIndex &index)
{
    const QSet<QString> filter = deviceFilter(library.root(), deviceValue);
    DictionaryScan tracks(std::move(library), QLatin1StringView("Tracks"));
    return listPieces(tracks, filter, index);
}
