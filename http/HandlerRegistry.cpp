// SPDX-License-Identifier: GPL-3.0-or-later
#include "HandlerRegistry.h"

void HandlerRegistry::registerHandler(const HandlerClass &handlerClass)
{
    const quint64 priority = handlerClass.priority();
    auto position = m_classes.begin();
    while (position != m_classes.end() && (*position)->priority() > priority)
        ++position;
    m_classes.insert(position, &handlerClass);
}

const HandlerClass *HandlerRegistry::handlerClassForRequest(const HTTPRequest &request, const QString &method,
                                                            const RequestURL &url,
                                                            const HeaderFields &headerFields) const
{
    for (const HandlerClass *handlerClass : m_classes) {
        if (handlerClass->canHandleRequest(request, method, url, headerFields))
            return handlerClass;
    }
    return nullptr;
}
