// SPDX-License-Identifier: GPL-3.0-or-later
#include "HTTPResponseHandler.h"

#include "AsciiText.h"
#include "HTTPConnection.h"
#include "HTTPLogging.h"

HTTPResponseHandler::HTTPResponseHandler(HTTPRequest request, std::unique_ptr<HTTPConnection> connection,
                                         const EndpointContext *context)
    : m_request(std::move(request))
    , m_url(m_request.url())
    , m_fileHandle(connection.release())
    , m_context(context)
{
    m_fileHandle->setParent(this);
    connect(m_fileHandle, &HTTPConnection::closed, this, &HTTPResponseHandler::receiveConnectionClosed);
    m_age.start();
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
                                                                            std::unique_ptr<HTTPConnection> connection,
                                                                            const EndpointContext *context)
{
    const HandlerClass *handlerClass = registry().handlerClassForRequest(
        request, request.method(), request.url(), request.headerFields());
    if (!handlerClass)
        handlerClass = &HandlerClass::of<HTTPResponseHandler>();
    return handlerClass->create(std::move(request), std::move(connection), context);
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
    finishResponse();
}

void HTTPResponseHandler::endResponse()
{
    if (m_ended)
        return;
    m_ended = true;
    m_finished = true;
    m_fileHandle->closeWhenWritten();
}

void HTTPResponseHandler::writeResponse(const HTTPResponse &response, const QByteArray &body)
{
    if (HTTPConnection *connection = fileHandle())
        connection->write(body.isEmpty() ? response.serialized() : response.serialized() + body);
}

void HTTPResponseHandler::errorResponse(const QString &message)
{
    writeResponse(HTTPResponse::plainText(400, message.size()), toLossyAscii(message));
}

void HTTPResponseHandler::finishResponse()
{
    if (m_finished)
        return;
    m_finished = true;
    emit responseFinished();
}

void HTTPResponseHandler::receiveConnectionClosed()
{
    qCInfo(lcHttp, "%s %s %s: %lld bytes sent in %lld ms", qUtf8Printable(m_fileHandle->peerAddress().toString()),
           qUtf8Printable(m_request.method()), qUtf8Printable(m_url.absoluteString()),
           qlonglong(m_fileHandle->bytesSent()), qlonglong(m_age.elapsed()));
    finishResponse();
    emit connectionClosed();
}
