#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QHash>
#include <QList>
#include <QString>

// songById: where the file of each song of a list lies, by track ID: its Location as the library spells it (UTF-8,
// percent escapes and all). A library's worth of songs is two blocks of memory, the Locations one after another
// and a hash from each ID to its place among them, rather than a string per song. A value: copies share the data.
class TrackIndex
{
public:
    void reserve(qsizetype songs) { m_byId.reserve(songs); }
    // Records a song; a later song with the same ID replaces the earlier one.
    void add(qint32 id, QByteArrayView location);
    // Records the songs of `later`, as though each were added after these.
    void append(const TrackIndex &later);
    // Gives back the room that growing left unused.
    void squeeze() { m_locations.squeeze(); }

    // The Location of the track with that ID, or a null array.
    QByteArray location(qint32 id) const;
    // The same for an ID text, as a request gives it. The text names a track only when written as the list writes
    // IDs: a 32-bit decimal without leading zeros or a plus sign. Null when it names none.
    QString getSongLocation(const QString &trackId) const;

    bool contains(qint32 id) const { return m_byId.contains(id); }
    QList<qint32> ids() const { return m_byId.keys(); }
    qsizetype size() const { return m_byId.size(); }
    bool isEmpty() const { return m_byId.isEmpty(); }

private:
    struct Span
    {
        quint32 offset;
        quint32 length;
    };

    QByteArrayView view(const Span &span) const { return QByteArrayView(m_locations).sliced(span.offset, span.length); }

    QByteArray m_locations;
    QHash<qint32, Span> m_byId;
};
