#pragma once

#include "AsciiText.h"
#include "HTTPMessage.h"

// The 400 answer of the music endpoints: the message as plain text. Its length is counted in UTF-16 code units
// and the lossy ASCII conversion writes one byte per code unit, so "Content-Length" is the bytes sent.
struct ErrorResponse
{
    explicit ErrorResponse(const QString &message)
        : head(400)
        , body(toLossyAscii(message))
    {
        head.setHeaderField("Content-Type", "text/plain");
        head.setHeaderField("Connection", "close");
        head.setHeaderField("Content-Length", QByteArray::number(message.size()));
    }

    HTTPResponse head;
    QByteArray body;
};
