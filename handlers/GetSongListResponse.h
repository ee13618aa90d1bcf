// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "HTTPResponseHandler.h"

#include <QElapsedTimer>

struct SongList;

// Answers "/getSongList" (optionally "?device=bb10") with the playable songs of the iTunes library. The list is
// made on a worker of the music library, which installs its track index, through which "/getSong" finds the
// songs' files, before the list is sent.
class GetSongListResponse : public HTTPResponseHandler
{
    Q_OBJECT

public:
    static constexpr const char *className = "GetSongListResponse";

    using HTTPResponseHandler::HTTPResponseHandler;

    static void load();
    static bool canHandleRequest(const HTTPRequest &request, const QString &method, const RequestURL &url,
                                 const HeaderFields &headerFields);

    void startResponse() override;

private:
    void sendSongList(const SongList &list);

    QElapsedTimer m_requested;
};
