// SPDX-License-Identifier: GPL-3.0-or-later
#include "RequestURL.h"

#include "Utf8Text.h"

#include <QUrl>

RequestURL::RequestURL(QByteArray target)
    : m_target(std::move(target))
{
}

QString RequestURL::path() const
{
    return QUrl::fromEncoded(m_target).path(QUrl::FullyDecoded);
}

QString RequestURL::relativeString() const
{
    return textFromUtf8(m_target);
}

QString RequestURL::absoluteString() const
{
    // Unreserved characters, the URL delimiters and '%' (escapes already there) stay; everything else, the
    // quotes among them, is escaped.
    static constexpr QLatin1StringView keep("-._~!$&()*+,;=:@/?#[]%");
    static constexpr char hex[] = "0123456789ABCDEF";
    QByteArray text;
    text.reserve(m_target.size());
    for (const char c : m_target) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80 && (QChar::isLetterOrNumber(byte) || keep.contains(QLatin1Char(c)))) {
            text += c;
        } else {
            text += '%';
            text += hex[byte >> 4];
            text += hex[byte & 0xf];
        }
    }
    return QString::fromLatin1(text);
}
