// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

// The URL of a request as the endpoints see it, built from the request target exactly as it arrived.
class RequestURL
{
public:
    RequestURL() = default;
    explicit RequestURL(QByteArray target);

    // The decoded path, without the query ("/hello" for "/hel%6Co?x=1"; "/hello" for "http://host/hello").
    QString path() const;
    // The request target exactly as received, query included.
    QString relativeString() const;
    // The whole request target with its query, percent-encoded so that it holds no raw '<', '>', '"' or '\'',
    // safe to put into a page. Escapes already in the target are kept as they are.
    QString absoluteString() const;

private:
    QByteArray m_target;
};
