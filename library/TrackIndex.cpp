#include "TrackIndex.h"

#include "Utf8Text.h"

void TrackIndex::add(qint32 id, QByteArrayView location)
{
    // The Locations of one list fit in 32 bits many times over: a library file is at most 1 GiB.
    m_byId.insert(id, Span{quint32(m_locations.size()), quint32(location.size())});
    m_locations.append(location);
}

void TrackIndex::append(const TrackIndex &later)
{
    m_byId.reserve(m_byId.size() + later.m_byId.size());
    for (auto song = later.m_byId.cbegin(); song != later.m_byId.cend(); ++song)
        add(song.key(), later.view(song.value()));
}

QByteArray TrackIndex::location(qint32 id) const
{
    const auto song = m_byId.constFind(id);
    return song == m_byId.cend() ? QByteArray() : view(*song).toByteArray();
}

QString TrackIndex::getSongLocation(const QString &trackId) const
{
    bool isNumber = false;
    const qint32 id = trackId.toInt(&isNumber);
    if (!isNumber || QString::number(id) != trackId)
        return {};
    const auto song = m_byId.constFind(id);
    return song == m_byId.cend() ? QString() : textFromUtf8(view(*song));
}
