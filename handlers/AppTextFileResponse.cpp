// SPDX-License-Identifier: GPL-3.0-or-later
#include "AppTextFileResponse.h"

void AppTextFileResponse::load()
{
    registerHandler(HandlerClass::of<AppTextFileResponse>());
}

bool AppTextFileResponse::canHandleRequest(const HTTPRequest &, const QString &, const RequestURL &url,
                                           const HeaderFields &)
{
    return url.path() == QLatin1StringView("/hello");
}

void AppTextFileResponse::startResponse()
{
    static const QByteArray text = QByteArrayLiteral("Hello!");
    writeResponse(HTTPResponse::plainText(200, text.size()), text);
    finishResponse();
}
