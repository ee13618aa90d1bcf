#pragma once

#include "HTTPMessage.h"

#include <QtGlobal>

#include <memory>
#include <vector>

class HTTPConnection;
class HTTPResponseHandler;
class HTTPServer;

// What the registry knows of one handler class: its class-level operations.
struct HandlerClass
{
    const char *name;
    quint64 (*priority)();
    bool (*canHandleRequest)(const HTTPRequest &request, const QString &method, const RequestURL &url,
                             const HeaderFields &headerFields);
    std::unique_ptr<HTTPResponseHandler> (*create)(HTTPRequest request, HTTPConnection *connection,
                                                   HTTPServer *server);

    // The descriptor of a handler class, built from its static members `className`, `priority` and
    // `canHandleRequest` and its constructor.
    template<class Handler>
    static const HandlerClass &of()
    {
        static const HandlerClass descriptor{
            Handler::className,
            &Handler::priority,
            &Handler::canHandleRequest,
            [](HTTPRequest request, HTTPConnection *connection, HTTPServer *server)
                -> std::unique_ptr<HTTPResponseHandler> {
                return std::make_unique<Handler>(std::move(request), connection, server);
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

    const std::vector<const HandlerClass *> &classes() const { return m_classes; }

private:
    std::vector<const HandlerClass *> m_classes;
};
