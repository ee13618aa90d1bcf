// SPDX-License-Identifier: GPL-3.0-or-later
#include "TrackIndex.h"

#include "Utf8Text.h"

#include <QSet>

#include <algorithm>

namespace {

// Lengths as LEB128: seven bits a byte, the high bit set on every byte but the last. Nearly every one takes a byte.
void appendLength(QByteArray &out, quint32 length)
{
    while (length >= 0x80) {
        out.append(char(0x80 | (length & 0x7f)));
        length >>= 7;
    }
    out.append(char(length));
}

quint32 readLength(const char *&at)
{
    quint32 length = 0;
    for (int shift = 0;; shift += 7) {
        const auto byte = static_cast<unsigned char>(*at++);
        length |= quint32(byte & 0x7f) << shift;
        if (byte < 0x80)
            return length;
    }
}

} // namespace

void TrackIndex::reserve(qsizetype songs)
{
    if (m_parts.isEmpty())
        m_parts.emplace_back();
    m_parts.back().ascending.reserve(size_t(songs));
}

void TrackIndex::add(qint32 id, QByteArrayView location)
{
    if (m_parts.isEmpty())
        m_parts.emplace_back();
    Part &part = m_parts.back();
    // The records of one list fit in 32 bits many times over: a library file is at most 1 GiB.
    const auto offset = quint32(part.records.size());
    qsizetype shared = 0;
    if (part.count % restartInterval == 0) {
        part.restarts.append(offset);
    } else {
        const qsizetype most = std::min(part.last.size(), location.size());
        shared = std::mismatch(location.begin(), location.begin() + most, part.last.cbegin()).first - location.begin();
    }
    appendLength(part.records, quint32(shared));
    appendLength(part.records, quint32(location.size() - shared));
    part.records.append(location.sliced(shared));
    part.last.truncate(shared);
    part.last.append(location.sliced(shared));
    ++part.count;

    if (part.insert(id, offset) && !isInParts(id, m_parts.size() - 1))
        ++m_size;
}

void TrackIndex::append(const TrackIndex &later)
{
    for (const Part &part : later.m_parts) {
        for (const qint32 id : part.ids())
            m_size += isInParts(id, m_parts.size()) ? 0 : 1;
        m_parts.append(part);
    }
}

bool TrackIndex::Part::insert(qint32 id, quint32 record)
{
    if (ascending.empty() || ascending.back().id < id) {
        ascending.push_back({id, record});
        return true;
    }
    const qsizetype before = outOfOrder.size();
    outOfOrder.insert(id, record);
    return outOfOrder.size() > before && !findAscending(id);
}

std::optional<quint32> TrackIndex::Part::findAscending(qint32 id) const
{
    const auto song = std::lower_bound(ascending.cbegin(), ascending.cend(), id,
                                       [](const Song &song, qint32 id) { return song.id < id; });
    return song != ascending.cend() && song->id == id ? std::optional(song->record) : std::nullopt;
}

std::optional<quint32> TrackIndex::Part::find(qint32 id) const
{
    const auto song = outOfOrder.constFind(id);
    return song != outOfOrder.cend() ? std::optional(*song) : findAscending(id);
}

QList<qint32> TrackIndex::Part::ids() const
{
    QList<qint32> ids;
    ids.reserve(qsizetype(ascending.size()) + outOfOrder.size());
    for (const Song &song : ascending)
        ids.append(song.id);
    for (auto song = outOfOrder.cbegin(); song != outOfOrder.cend(); ++song) {
        if (!findAscending(song.key()))
            ids.append(song.key());
    }
    return ids;
}

QByteArray TrackIndex::Part::decode(quint32 record) const
{
    const auto restart = std::upper_bound(restarts.cbegin(), restarts.cend(), record) - 1;
    const char *at = records.constData() + *restart;
    QByteArray location;
    location.reserve(last.size()); // and an empty Location is not mistaken for none
    for (;;) {
        const char *const start = at;
        const quint32 shared = readLength(at);
        const quint32 rest = readLength(at);
        location.truncate(shared);
        location.append(at, rest);
        at += rest;
        if (start == records.constData() + record)
            return location;
    }
}

std::optional<TrackIndex::Record> TrackIndex::findRecord(qint32 id) const
{
    for (auto part = m_parts.crbegin(); part != m_parts.crend(); ++part) {
        if (const std::optional<quint32> record = part->find(id))
            return Record{&*part, *record};
    }
    return std::nullopt;
}

bool TrackIndex::isInParts(qint32 id, qsizetype count) const
{
    for (qsizetype i = 0; i < count; ++i) {
        if (m_parts[i].find(id))
            return true;
    }
    return false;
}

QByteArray TrackIndex::location(qint32 id) const
{
    const std::optional<Record> found = findRecord(id);
    return found ? found->part->decode(found->offset) : QByteArray();
}

QString TrackIndex::getSongLocation(const QString &trackId) const
{
    bool isNumber = false;
    const qint32 id = trackId.toInt(&isNumber);
    if (!isNumber || QString::number(id) != trackId)
        return {};
    const QByteArray found = location(id);
    return found.isNull() ? QString() : textFromUtf8(found);
}

QList<qint32> TrackIndex::ids() const
{
    QSet<qint32> ids;
    for (const Part &part : m_parts) {
        for (const qint32 id : part.ids())
            ids.insert(id);
    }
    return ids.values();
}
