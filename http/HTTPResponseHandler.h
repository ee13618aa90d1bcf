// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "HTTPMessage.h"
#include "HandlerRegistry.h"

#include <QElapsedTimer>
#include <QObject>

#include <memory>

class HTTPConnection;

// The handler of one request on one connection, and the process-wide registry of handler classes.
//
// Endpoints derive from it, give themselves `className`, `canHandleRequest` (and `priority` if they must be
// consulted before others) and override startResponse(). The base class itself is the fallback: it accepts
// every request and answers it with a 501 page.
//
// A handler owns its connection for the whole of its own life. It may answer at once or later, from the event
// loop; either way it says so once with responseFinished(), and whoever holds it then ends it with endResponse():
// what it queued still goes out, then the connection closes and says so with connectionClosed(). Whatever the
// peer sends after the request header is dropped, and the peer ending its sending side ends nothing: a handset
// that half-closes after its request still gets the whole answer.
class HTTPResponseHandler : public QObject
{
    Q_OBJECT

public:
    static constexpr const char *className = "HTTPResponseHandler";

    HTTPResponseHandler(HTTPRequest request, std::unique_ptr<HTTPConnection> connection,
                        const EndpointContext *context);

    static quint64 priority() { return 0; }
    static bool canHandleRequest(const HTTPRequest &request, const QString &method, const RequestURL &url,
                                 const HeaderFields &headerFields);

    // The process-wide registry. The base class is in it from the start, so it is always consulted last
    // among classes of priority 0, whatever order the other registrations run in.
    static HandlerRegistry &registry();
    static void registerHandler(const HandlerClass &handlerClass);
    static std::unique_ptr<HTTPResponseHandler> handlerForRequest(HTTPRequest request,
                                                                  std::unique_ptr<HTTPConnection> connection,
                                                                  const EndpointContext *context);

    virtual void startResponse();
    // Lets the connection finish sending what is queued, then close. Nothing more is written after it. Runs once.
    void endResponse();

signals:
    // The answer is complete, or the connection has gone before it was.
    void responseFinished();
    void connectionClosed();

protected:
    // Sends a response head and, when given, its body, as one unit on the wire.
    void writeResponse(const HTTPResponse &response, const QByteArray &body = {});
    // The 400 answer whose plain-text body is the message. Its length is counted in UTF-16 code units and the
    // lossy ASCII conversion writes one byte per code unit, so "Content-Length" is the bytes sent.
    void errorResponse(const QString &message);
    // Says that the answer is complete. Later calls change nothing.
    void finishResponse();

    // Null once the response has ended.
    HTTPConnection *fileHandle() const { return m_ended ? nullptr : m_fileHandle; }
    const EndpointContext *context() const { return m_context; }

    const HTTPRequest m_request;
    const RequestURL m_url;

private:
    void receiveConnectionClosed();

    HTTPConnection *const m_fileHandle; // a child: it goes with the handler
    const EndpointContext *const m_context;
    QElapsedTimer m_age;
    bool m_finished = false;
    bool m_ended = false;
};
