// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QHash>
#include <QList>
#include <QString>

#include <optional>
#include <vector>

// songById: where the file of each song of a list lies, by track ID: its Location as the library spells it (UTF-8,
// percent escapes and all). A value; copies share the data.
//
// Compact, because it lives as long as its list is the latest and the next list is made while it still serves
// downloads. Songs follow one another in folder order, so each Location is kept as the part it does not share
// with the one before (front coding, as search indexes keep their terms), in one block: at 100,000 tracks about
// 5 MB where a string per song took 25. Every restartInterval-th Location is kept whole, so that a lookup decodes
// a few records at most. A list made in parts at once keeps a block per part, so that joining them copies nothing.
class TrackIndex
{
public:
    void reserve(qsizetype songs);
    // Records a song; a later song with the same ID replaces the earlier one.
    void add(qint32 id, QByteArrayView location);
    // Records the songs of `later`, as though each were added after these.
    void append(const TrackIndex &later);

    // The Location of the track with that ID, or a null array.
    QByteArray location(qint32 id) const;
    // The same for an ID text, as a request gives it. The text names a track only when written as the list writes
    // IDs: a 32-bit decimal without leading zeros or a plus sign. Null when it names none.
    QString getSongLocation(const QString &trackId) const;

    bool contains(qint32 id) const { return findRecord(id).has_value(); }
    QList<qint32> ids() const;
    qsizetype size() const { return m_size; }
    bool isEmpty() const { return m_size == 0; }

private:
    static constexpr int restartInterval = 16;

    struct Part
    {
        // Each record: the length of the prefix shared with the Location before, the length of the rest, the rest.
        QByteArray records;
        // Where each record that holds its whole Location begins.
        QList<quint32> restarts;
        // Where each song's record begins. A library lists its tracks by ascending ID, give or take a few, so the
        // songs whose IDs ascend are kept in a sorted array as they come and found by binary search; the others,
        // in a hash table, which takes precedence, since each of them came after any song of its ID in the array.
        // Filling a hash table costs a cache miss per song; the array, none.
        struct Song
        {
            qint32 id;
            quint32 record;
        };
        std::vector<Song> ascending;
        QHash<qint32, quint32> outOfOrder;
        qsizetype count = 0;
        QByteArray last; // the Location of the last record, to share a prefix with

        QByteArray decode(quint32 record) const;
        std::optional<quint32> find(qint32 id) const;
        std::optional<quint32> findAscending(qint32 id) const;
        // Records a song; false when it replaces an earlier one with the same ID.
        bool insert(qint32 id, quint32 record);
        QList<qint32> ids() const;
    };
    struct Record
    {
        const Part *part;
        quint32 offset;
    };

    // The record of the song in the latest part that has it.
    std::optional<Record> findRecord(qint32 id) const;
    bool isInParts(qint32 id, qsizetype count) const; // the first `count` parts

    QList<Part> m_parts;
    qsizetype m_size = 0;
};
