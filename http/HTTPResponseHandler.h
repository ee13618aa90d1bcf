#pragma once

#include "HTTPMessage.h"
#include "HandlerRegistry.h"

#include <QObject>

class HTTPConnection;
class HTTPServer;

// The handler of one request on one connection, and the process-wide registry of handler classes.
//
// Endpoints derive from it, give themselves `className`, `canHandleRequest` (and `priority` if they must be
// consulted before others) and override startResponse(). The base class itself is the fallback: it accepts
// every request and answers it with a 501 page.
//
// A handler owns its connection from its creation until endResponse(); from then on the connection finishes
// sending on its own. Whatever the peer sends after the request header is read and dropped.
class HTTPResponseHandler : public QObject
{
    Q_OBJECT

public:
    static constexpr const char *className = "HTTPResponseHandler";

    HTTPResponseHandler(HTTPRequest request, HTTPConnection *connection, HTTPServer *server);
    ~HTTPResponseHandler() override;

    static quint64 priority() { return 0; }
    static bool canHandleRequest(const HTTPRequest &request, const QString &method, const RequestURL &url,
                                 const HeaderFields &headerFields);

    // The process-wide registry. The base class is in it from the start, so it is always consulted last
    // among classes of priority 0, whatever order the other registrations run in.
    static HandlerRegistry &registry();
    static void registerHandler(const HandlerClass &handlerClass);
    static std::unique_ptr<HTTPResponseHandler> handlerForRequest(HTTPRequest request, HTTPConnection *connection,
                                                                  HTTPServer *server);

    virtual void startResponse();
    // Hands the connection back to finish sending and close, and lets go of the server. Runs once.
    void endResponse();
    bool isEnded() const { return m_server == nullptr; }

protected:
    // Sends a response head and, when given, its body, as one unit on the wire.
    void writeResponse(const HTTPResponse &response, const QByteArray &body = {});

    HTTPConnection *fileHandle() const { return m_fileHandle; }
    HTTPServer *server() const { return m_server; }
    // Asks the server to end this handler: endResponse() now, the handler itself freed once control is back
    // in the event loop. Safe to call more than once.
    void closeHandler();

    const HTTPRequest m_request;
    const QString m_requestMethod;
    const RequestURL m_url;
    const HeaderFields m_headerFields;

private:
    void receiveEndOfStream();

    HTTPConnection *m_fileHandle;
    HTTPServer *m_server;
};
