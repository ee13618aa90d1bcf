#include "SongLocation.h"

#include <QByteArray>
#include <QStringDecoder>

namespace {

constexpr QLatin1StringView localhostPrefix("file://localhost/");
constexpr QLatin1StringView emptyHostPrefix("file:///");

int hexValue(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'a' && u <= 'f')
        return u - 'a' + 10;
    if (u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    return -1;
}

} // namespace

namespace SongLocation {

bool isLocalFile(QStringView location)
{
    return location.startsWith(localhostPrefix) || location.startsWith(emptyHostPrefix);
}

std::optional<QString> filePath(QStringView location)
{
    // "file://localhost" and "file://" both keep the path's leading "/".
    const qsizetype schemeAndHost = location.startsWith(localhostPrefix) ? localhostPrefix.size() - 1
                                                                         : emptyHostPrefix.size() - 1;
    return percentDecoded(location.sliced(std::min(schemeAndHost, location.size())));
}

QString fileName(QStringView location)
{
    const QStringView name = location.sliced(location.lastIndexOf(u'/') + 1);
    return percentDecoded(name).value_or(name.toString());
}

std::optional<QString> percentDecoded(QStringView text)
{
    if (!text.contains(u'%'))
        return text.toString();

    QByteArray bytes;
    bytes.reserve(text.size());
    qsizetype i = 0;
    while (i < text.size()) {
        const qsizetype escape = text.indexOf(u'%', i);
        bytes += text.sliced(i, (escape < 0 ? text.size() : escape) - i).toUtf8();
        if (escape < 0)
            break;
        if (escape + 2 >= text.size())
            return std::nullopt;
        const int high = hexValue(text[escape + 1]);
        const int low = hexValue(text[escape + 2]);
        if (high < 0 || low < 0)
            return std::nullopt;
        bytes += char(high * 16 + low);
        i = escape + 3;
    }
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString decoded = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return decoded;
}

} // namespace SongLocation
