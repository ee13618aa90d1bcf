// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringView>

#include <optional>

// The "Location" of a track, as iTunes writes it: a file URL with the path's bytes percent-encoded as UTF-8.
// Older libraries name the local host ("file://localhost/Users/…"), newer ones leave it empty
// ("file:///Users/…"); both mean a file on this computer.
namespace SongLocation {

bool isLocalFile(QStringView location);
bool isLocalFile(QByteArrayView utf8Location);

// The file's absolute path, percent escapes decoded ("+" stays "+"); nothing when the escapes are not UTF-8.
std::optional<QString> filePath(QStringView location);

// The text after the last "/" in UTF-8, decoded, as it stands when its escapes are not UTF-8: a view into
// `utf8Location`, or into `scratch` when escapes were decoded.
QByteArrayView fileNameUtf8(QByteArrayView utf8Location, QByteArray &scratch);

// Percent escapes decoded as UTF-8; nothing for a malformed escape or bytes that are not UTF-8.
std::optional<QString> percentDecoded(QStringView text);
std::optional<QByteArray> percentDecodedUtf8(QByteArrayView utf8Text);
// The same into `out`, which a caller can reuse; false (and `out` unspecified) where the others give nothing.
bool decodePercentEscapes(QByteArrayView utf8Text, QByteArray &out);

} // namespace SongLocation
