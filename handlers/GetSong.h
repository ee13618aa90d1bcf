// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "HTTPResponseHandler.h"

// Answers "/getSong?xx=<track ID>" with the bytes of that song's file. The track must be in the latest song
// list: the ID is looked up in the track index that "/getSongList" fills.
class GetSong : public HTTPResponseHandler
{
    Q_OBJECT

public:
    static constexpr const char *className = "GetSong";

    using HTTPResponseHandler::HTTPResponseHandler;

    static void load();
    static bool canHandleRequest(const HTTPRequest &request, const QString &method, const RequestURL &url,
                                 const HeaderFields &headerFields);

    // The track ID of a request URL: everything after the first "?" and the three characters that follow it
    // ("/getSong?xx=1234" asks for "1234"). Empty when there is no such text.
    static QString trackIdOf(const QString &urlText);

    void startResponse() override;

private:
    // Tells the application's activity, if it listens, of this download and how it goes.
    void reportDownload(HTTPConnection *connection, const QString &fileName, qint64 size);
};
