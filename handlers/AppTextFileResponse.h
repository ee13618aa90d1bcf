// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "HTTPResponseHandler.h"

// Answers "/hello" with "Hello!", so that a handset can check that it reaches the server.
class AppTextFileResponse : public HTTPResponseHandler
{
    Q_OBJECT

public:
    static constexpr const char *className = "AppTextFileResponse";

    using HTTPResponseHandler::HTTPResponseHandler;

    static void load();
    static bool canHandleRequest(const HTTPRequest &request, const QString &method, const RequestURL &url,
                                 const HeaderFields &headerFields);

    void startResponse() override;
};
