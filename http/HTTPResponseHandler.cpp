#include "HTTPResponseHandler.h"

#include "HTTPConnection.h"
#include "HTTPServer.h"

HTTPResponseHandler::HTTPResponseHandler(HTTPRequest request, HTTPConnection *connection, HTTPServer *server)
    : m_request(std::move(request))
    , m_requestMethod(m_request.method())
    , m_url(m_request.url())
    , m_headerFields(m_request.headerFields())
    , m_fileHandle(connection)
    , m_server(server)
{
    // From here on the handler, not the server, hears from the connection. Further request bytes are dropped;
    // only the end of the peer's stream matters.
    m_fileHandle->setParent(this);
    connect(m_fileHandle, &HTTPConnection::endOfStream, this, &HTTPResponseHandler::receiveEndOfStream);
    connect(m_fileHandle, &HTTPConnection::closed, this, &HTTPResponseHandler::closeHandler);
}

HTTPResponseHandler::~HTTPResponseHandler()
{
    endResponse();
}

bool HTTPResponseHandler::canHandleRequest(const HTTPRequest &, const QString &, const RequestURL &,
                                           const HeaderFields &)
{
    return true;
}

HandlerRegistry &HTTPResponseHandler::registry()
{
    static HandlerRegistry registeredHandlers = [] {
        HandlerRegistry registry;
        registry.registerHandler(HandlerClass::of<HTTPResponseHandler>());
        return registry;
    }();
    return registeredHandlers;
}

void HTTPResponseHandler::registerHandler(const HandlerClass &handlerClass)
{
    registry().registerHandler(handlerClass);
}

std::unique_ptr<HTTPResponseHandler> HTTPResponseHandler::handlerForRequest(HTTPRequest request,
                                                                            HTTPConnection *connection,
                                                                            HTTPServer *server)
{
    const HandlerClass *handlerClass = registry().handlerClassForRequest(
        request, request.method(), request.url(), request.headerFields());
    if (!handlerClass)
        handlerClass = &HandlerClass::of<HTTPResponseHandler>();
    return handlerClass->create(std::move(request), connection, server);
}

void HTTPResponseHandler::startResponse()
{
    HTTPResponse response(501);
    response.setHeaderField("Content-Type", "text/html");
    response.setHeaderField("Connection", "close");
    const QString page = QStringLiteral("<html><head><title>501 - Not Implemented</title></head><body>"
                                        "<h1>501 - Not Implemented</h1><p>No handler exists to handle %1.</p>"
                                        "</body></html>")
                             .arg(m_url.absoluteString());
    response.setBody(page.toUtf8());
    writeResponse(response);
    closeHandler();
}

void HTTPResponseHandler::endResponse()
{
    if (m_fileHandle) {
        disconnect(m_fileHandle, nullptr, this, nullptr);
        HTTPConnection *connection = m_fileHandle;
        m_fileHandle = nullptr;
        if (m_server) {
            connection->setParent(m_server); // the server cuts it short if it stops before it has finished
            connection->closeWhenWritten();
        } else {
            connection->abort();
            connection->deleteLater();
        }
    }
    m_server = nullptr;
}

void HTTPResponseHandler::writeResponse(const HTTPResponse &response, const QByteArray &body)
{
    if (m_fileHandle)
        m_fileHandle->write(body.isEmpty() ? response.serialized() : response.serialized() + body);
}

void HTTPResponseHandler::closeHandler()
{
    if (m_server)
        m_server->closeHandler(this);
}

void HTTPResponseHandler::receiveEndOfStream()
{
    // Ending the handler does not cut the response short: what is queued still goes out, so a client that
    // half-closes after its request still gets the whole answer.
    closeHandler();
}
