#include "AppTextFileResponse.h"

#include <QDir>
#include <QStandardPaths>

void AppTextFileResponse::load()
{
    registerHandler(HandlerClass::of<AppTextFileResponse>());
}

bool AppTextFileResponse::canHandleRequest(const HTTPRequest &, const QString &, const RequestURL &url,
                                           const HeaderFields &)
{
    return url.path() == QLatin1StringView("/hello");
}

QString AppTextFileResponse::pathForFile()
{
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    QDir().mkpath(folder);
    return QDir(folder).filePath(QStringLiteral("file.txt"));
}

void AppTextFileResponse::startResponse()
{
    static const QByteArray text = QByteArrayLiteral("Hello!");
    HTTPResponse response(200);
    response.setHeaderField("Content-Type", "text/plain");
    response.setHeaderField("Connection", "close");
    response.setHeaderField("Content-Length", QByteArray::number(text.size()));
    writeResponse(response, text);
    closeHandler();
}
