// SPDX-License-Identifier: GPL-3.0-or-later
#include "SongLocation.h"

#include "PlayableTrack.h"
#include "Utf8Text.h"

#include <QByteArray>

namespace {

constexpr QByteArrayView localhostPrefix(PlayableTrack::localhostPrefix);
constexpr QByteArrayView emptyHostPrefix(PlayableTrack::emptyHostPrefix);

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

namespace SongLocation {

bool isLocalFile(QStringView location)
{
    return location.startsWith(QLatin1StringView(localhostPrefix))
           || location.startsWith(QLatin1StringView(emptyHostPrefix));
}

bool isLocalFile(QByteArrayView utf8Location)
{
    return utf8Location.startsWith(localhostPrefix) || utf8Location.startsWith(emptyHostPrefix);
}

std::optional<QString> filePath(QStringView location)
{
    // "file://localhost" and "file://" both keep the path's leading "/".
    const qsizetype schemeAndHost = location.startsWith(QLatin1StringView(localhostPrefix))
                                        ? localhostPrefix.size() - 1
                                        : emptyHostPrefix.size() - 1;
    return percentDecoded(location.sliced(std::min(schemeAndHost, location.size())));
}

QByteArrayView fileNameUtf8(QByteArrayView utf8Location, QByteArray &scratch)
{
    const QByteArrayView name = utf8Location.sliced(utf8Location.lastIndexOf('/') + 1);
    if (!name.contains('%'))
        return name;
    return decodePercentEscapes(name, scratch) ? QByteArrayView(scratch) : name;
}

std::optional<QString> percentDecoded(QStringView text)
{
    const std::optional<QByteArray> decoded = percentDecodedUtf8(QByteArrayView(text.toUtf8()));
    return decoded ? std::optional<QString>(textFromUtf8(*decoded)) : std::nullopt;
}

std::optional<QByteArray> percentDecodedUtf8(QByteArrayView utf8Text)
{
    QByteArray bytes;
    if (!decodePercentEscapes(utf8Text, bytes))
        return std::nullopt;
    return bytes;
}

bool decodePercentEscapes(QByteArrayView utf8Text, QByteArray &out)
{
    if (!utf8Text.contains('%')) {
        out = utf8Text.toByteArray();
        return true;
    }
    // Never longer than the text; resized once, so that a buffer reused from call to call is not reallocated.
    out.resize(utf8Text.size());
    char *decoded = out.data();
    for (qsizetype i = 0; i < utf8Text.size(); ++i) {
        if (utf8Text[i] != '%') {
            *decoded++ = utf8Text[i];
            continue;
        }
        if (i + 2 >= utf8Text.size())
            return false;
        const int high = hexValue(utf8Text[i + 1]);
        const int low = hexValue(utf8Text[i + 2]);
        if (high < 0 || low < 0)
            return false;
        *decoded++ = char(high * 16 + low);
        i += 2;
    }
    out.truncate(decoded - out.constData());
    return QByteArrayView(out).isValidUtf8();
}

} // namespace SongLocation
