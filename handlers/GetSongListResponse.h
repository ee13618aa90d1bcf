#pragma once

#include "HTTPResponseHandler.h"
#include "PropertyList.h"
#include "SongListBuilder.h"

#include <optional>

// Answers "/getSongList" (optionally "?device=bb10") with the playable songs of the iTunes library, and
// refills the track index through which "/getSong" finds their files.
class GetSongListResponse : public HTTPResponseHandler
{
    Q_OBJECT

public:
    static constexpr const char *className = "GetSongListResponse";

    using HTTPResponseHandler::HTTPResponseHandler;

    static void load();
    static bool canHandleRequest(const HTTPRequest &request, const QString &method, const RequestURL &url,
                                 const HeaderFields &headerFields);
    static QString xmlEncode(const QString &text);

    // The library of the current user, loaded afresh; throws EndpointError when it cannot be found or read.
    static PropertyList getSongDictionary();
    // Where the file of a track of the latest song list lies (its Location text), or a null string.
    static QString getSongLocation(const QString &trackId);

    void startResponse() override;

private:
    void errorResponse(const QString &message);

    // The songs of the latest list; none before the first list.
    static std::optional<SongListBuilder::TrackIndex> songById;
};
