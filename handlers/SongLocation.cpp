#include "SongLocation.h"

#include <QByteArray>

namespace {

constexpr QByteArrayView localhostPrefix("file://localhost/");
constexpr QByteArrayView emptyHostPrefix("file:///");

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

QString fileName(QStringView location)
{
    return QString::fromUtf8(fileNameUtf8(QByteArrayView(location.toUtf8())));
}

QByteArray fileNameUtf8(QByteArrayView utf8Location)
{
    const QByteArrayView name = utf8Location.sliced(utf8Location.lastIndexOf('/') + 1);
    std::optional<QByteArray> decoded = percentDecodedUtf8(name);
    return decoded ? std::move(*decoded) : name.toByteArray();
}

std::optional<QString> percentDecoded(QStringView text)
{
    const std::optional<QByteArray> decoded = percentDecodedUtf8(QByteArrayView(text.toUtf8()));
    return decoded ? std::optional<QString>(QString::fromUtf8(*decoded)) : std::nullopt;
}

std::optional<QByteArray> percentDecodedUtf8(QByteArrayView utf8Text)
{
    if (!utf8Text.contains('%'))
        return utf8Text.toByteArray();

    QByteArray bytes;
    bytes.reserve(utf8Text.size());
    qsizetype i = 0;
    while (i < utf8Text.size()) {
        const qsizetype escape = utf8Text.indexOf('%', i);
        bytes += utf8Text.sliced(i, (escape < 0 ? utf8Text.size() : escape) - i);
        if (escape < 0)
            break;
        if (escape + 2 >= utf8Text.size())
            return std::nullopt;
        const int high = hexValue(utf8Text[escape + 1]);
        const int low = hexValue(utf8Text[escape + 2]);
        if (high < 0 || low < 0)
            return std::nullopt;
        bytes += char(high * 16 + low);
        i = escape + 3;
    }
    if (!QByteArrayView(bytes).isValidUtf8())
        return std::nullopt;
    return bytes;
}

} // namespace SongLocation
