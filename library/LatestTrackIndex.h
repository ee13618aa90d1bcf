// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "SongList.h"

// songById, and the rule by which a finished song list replaces it. Lists are numbered as they are requested and
// may finish in any order. The index is that of the most recently requested list that succeeded: a list that
// finishes after a later-requested one has been installed changes nothing, and neither does a failed one.
class LatestTrackIndex
{
public:
    // The number of a list requested now.
    quint64 nextRequest() { return ++m_lastRequested; }

    // Installs the index of the list that was requested as `request`, if the rule says so.
    void offer(quint64 request, const SongList &list)
    {
        if (!list.isListed() || request <= m_installedRequest)
            return;
        m_index = list.index;
        m_libraryPath = list.libraryPath;
        m_musicFolder = list.musicFolder;
        m_installedRequest = request;
    }

    // Empty before the first list.
    const TrackIndex &current() const { return m_index; }
    const QString &libraryPath() const { return m_libraryPath; }
    const QString &musicFolder() const { return m_musicFolder; }

private:
    TrackIndex m_index;
    QString m_libraryPath;
    QString m_musicFolder;
    quint64 m_lastRequested = 0;
    quint64 m_installedRequest = 0;
};
