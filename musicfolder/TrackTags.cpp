// SPDX-License-Identifier: GPL-3.0-or-later
#include "TrackTags.h"

#include <taglib/audioproperties.h>
#include <taglib/fileref.h>
#include <taglib/tpropertymap.h>

namespace {

// A tag may hold megabytes of text; a song's name in a list never needs more than this.
constexpr qsizetype maxTextLength = 1024;

QString text(const TagLib::PropertyMap &properties, const char *key)
{
    const auto found = properties.find(key);
    if (found == properties.end() || found->second.isEmpty())
        return {};
    const TagLib::String &value = found->second.front();
    QString result = QString::fromUtf8(value.toCString(true));
    if (result.size() > maxTextLength)
        result.truncate(maxTextLength);
    return TrackTags::xmlSafe(result.trimmed());
}

// "3/12" is track 3 of 12; "2009-05-01" is the year 2009.
int leadingNumber(const QString &text)
{
    qsizetype digits = 0;
    while (digits < text.size() && digits < 9 && text[digits].isDigit())
        ++digits;
    return text.left(digits).toInt();
}

} // namespace

TrackTags TrackTags::read(const QByteArray &path)
{
    TrackTags tags;
    const TagLib::FileRef file(path.constData(), true, TagLib::AudioProperties::Fast);
    // TagLib takes a file with a known extension for one of its kind until it finds no audio in it.
    const TagLib::AudioProperties *audio = file.isNull() ? nullptr : file.audioProperties();
    if (!audio || audio->sampleRate() <= 0)
        return tags;
    tags.readable = true;
    // The whole map rather than tag(): a WAV's title may sit in its RIFF INFO list as well as in an ID3 chunk.
    const TagLib::PropertyMap properties = file.file()->properties();
    tags.name = text(properties, "TITLE");
    tags.artist = text(properties, "ARTIST");
    tags.albumArtist = text(properties, "ALBUMARTIST");
    tags.album = text(properties, "ALBUM");
    tags.genre = text(properties, "GENRE");
    tags.year = leadingNumber(text(properties, "DATE"));
    tags.trackNumber = leadingNumber(text(properties, "TRACKNUMBER"));
    tags.discNumber = leadingNumber(text(properties, "DISCNUMBER"));
    tags.totalTime = audio->lengthInMilliseconds();
    tags.bitRate = audio->bitrate();
    tags.sampleRate = audio->sampleRate();
    return tags;
}

QString TrackTags::xmlSafe(QString text)
{
    text.removeIf([](QChar c) {
        const char16_t u = c.unicode();
        return (u < 0x20 && u != '\t' && u != '\n' && u != '\r') || u == 0xFFFE || u == 0xFFFF;
    });
    return text;
}
