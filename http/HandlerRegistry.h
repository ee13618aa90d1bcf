// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "HTTPConnection.h"
#include "HTTPMessage.h"

#include <QtGlobal>

#include <memory>
#include <vector>

class HTTPResponseHandler;

// What the application gives its endpoints (the music library, for one). The endpoints define it; the HTTP layer
// only carries it from the server to each handler it creates, and may carry none.
struct EndpointContext;

// What the registry knows of one handler class: its class-level operations.
struct HandlerClass
{
    const char *name;
    quint64 (*priority)();
    bool (*canHandleRequest)(const HTTPRequest &request, const QString &method, const RequestURL &url,
                             const HeaderFields &headerFields);
    std::unique_ptr<HTTPResponseHandler> (*create)(HTTPRequest request, std::unique_ptr<HTTPConnection> connection,
                                                   const EndpointContext *context);

    // The descriptor of a handler class, built from its static members `className`, `priority` and
    // `canHandleRequest` and its constructor.
    template<class Handler>
    static const HandlerClass &of()
    {
        static const HandlerClass descriptor{
            Handler::className,
            &Handler::priority,
            &Handler::canHandleRequest,
            [](HTTPRequest request, std::unique_ptr<HTTPConnection> connection, const EndpointContext *context)
                -> std::unique_ptr<HTTPResponseHandler> {
                return std::make_unique<Handler>(std::move(request), std::move(connection), context);
            },
        };
        return descriptor;
    }
};

// Handler classes in the order they are consulted: by descending priority, and among equal priorities the
// class registered last first. A class registered twice stands there twice.
class HandlerRegistry
{
public:
    void registerHandler(const HandlerClass &handlerClass);

    // The first class that accepts the request, or null.
    const HandlerClass *handlerClassForRequest(const HTTPRequest &request, const QString &method,
                                               const RequestURL &url, const HeaderFields &headerFields) const;

private:
    std::vector<const HandlerClass *> m_classes;
};
