// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

class EndpointActivity;
class MusicLibrary;

// What the application gives its endpoints, through the server that creates them (HTTPServer::setEndpointContext).
struct EndpointContext
{
    // Not owned. Without one, the music endpoints find nothing: a song list is not answered, and no song is found.
    MusicLibrary *library = nullptr;
    // Not owned; may be null. Told of each list sent and each download.
    EndpointActivity *activity = nullptr;
};
