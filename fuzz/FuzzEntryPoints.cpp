// SPDX-License-Identifier: GPL-3.0-or-later
#include "FuzzEntryPoints.h"

#include "AsciiText.h"
#include "GetSong.h"
#include "HTTPMessage.h"
#include "PropertyList.h"
#include "PropertyListDocument.h"
#include "SongListBuilder.h"
#include "SongLocation.h"
#include "URLParser.h"
#include "Utf8Text.h"
#include "XmlPropertyListReader.h"

#include <QByteArray>
#include <QString>

#include <algorithm>
#include <cstdlib>

namespace {

// A broken invariant ends the run where it is found, the way a sanitizer report does.
void check(bool condition)
{
    if (!condition)
        std::abort();
}

struct FeedOutcome
{
    bool accepted = true;
    bool complete = false;
    HTTPRequest request;
};

FeedOutcome feed(QByteArrayView input, qsizetype chunkSize)
{
    FeedOutcome outcome;
    qsizetype at = 0;
    do {
        const qsizetype length = std::min(chunkSize, input.size() - at);
        outcome.accepted = outcome.request.appendBytes(input.sliced(at, length));
        at += length;
    } while (outcome.accepted && at < input.size());
    outcome.complete = outcome.request.isHeaderComplete();
    return outcome;
}

// A binary list may share one array between many parents, so a tree walk can meet far more values than the
// file holds (the reader itself reads each object once). The walk stops there; the reader is not at fault.
class TreeWalk
{
public:
    explicit TreeWalk(qsizetype inputSize)
        : m_budget(64 * inputSize + 4096)
    {
    }

    void visit(const PlistValue &value, int depth)
    {
        if (--m_budget < 0)
            return;
        // The reader's bound on nesting is what keeps this recursion, and every consumer's, finite.
        check(depth <= kMaxPlistNestingDepth + 1);
        check(!value.isAbsent());
        const qsizetype count = value.count();
        check(count >= 0);
        switch (value.type()) {
        case PlistValue::Type::Dictionary:
            for (qsizetype i = 0; i < count; ++i) {
                const QString key = value.keyAt(i);
                check(!key.isNull());
                visit(value.valueAt(i), depth + 1);
                const QByteArray latin1 = key.toLatin1();
                if (QString::fromLatin1(latin1) == key)
                    check(value.contains(QLatin1StringView(latin1)));
            }
            check(value.valueAt(count).isAbsent() && value.keyAt(count).isNull() && value.at(0).isAbsent());
            break;
        case PlistValue::Type::Array:
            for (qsizetype i = 0; i < count; ++i)
                visit(value.at(i), depth + 1);
            check(value.at(count).isAbsent() && value.at(-1).isAbsent() && value.valueAt(0).isAbsent());
            break;
        case PlistValue::Type::String: {
            const QString text = value.toString();
            check(!text.isNull());
            check(!value.toUtf8().isNull());
            value.toInteger();
            break;
        }
        default:
            check(value.toString().isNull() && value.toUtf8().isNull());
            value.toInteger();
            break;
        }
    }

private:
    qsizetype m_budget;
};

} // namespace

namespace FuzzEntryPoints {

void requestParser(QByteArrayView input)
{
    const qsizetype chunkSize = input.isEmpty() ? 1 : 1 + static_cast<unsigned char>(input.back()) % 64;
    FeedOutcome whole = feed(input, std::max<qsizetype>(input.size(), 1));
    const FeedOutcome pieces = feed(input, chunkSize);

    // Where the bytes happen to be split must never change the verdict or what was read.
    check(whole.accepted == pieces.accepted);
    check(whole.complete == pieces.complete);
    if (!whole.complete)
        return;
    check(whole.request.method() == pieces.request.method());
    check(whole.request.target() == pieces.request.target());
    check(whole.request.headerFields() == pieces.request.headerFields());
    check(whole.request.body() == pieces.request.body());
    check(!whole.request.method().isEmpty() && !whole.request.target().isEmpty());

    const RequestURL url = whole.request.url();
    url.path();
    check(url.relativeString() == textFromUtf8(whole.request.target()));
    // The 501 page carries this text: no markup, no quotes, nothing but printable ASCII.
    const QString absolute = url.absoluteString();
    for (const QChar c : absolute) {
        check(c.unicode() > 0x20 && c.unicode() < 0x7f);
        check(c != u'<' && c != u'>' && c != u'"' && c != u'\'');
    }

    // More bytes after a complete header are body, and never unsettle it.
    check(whole.request.appendBytes("GET / HTTP/1.1\r\n\r\n"));
    check(whole.request.isHeaderComplete());
}

void urlParser(QByteArrayView input)
{
    const QString text = QString::fromUtf8(input);
    const qsizetype newline = text.indexOf(u'\n');
    const QString url = newline < 0 ? text : text.first(newline);
    const QString name = newline < 0 ? QStringLiteral("device") : text.sliced(newline + 1);

    const URLParser parser(url);
    auto checkValue = [&parser](const QString &variableName) {
        const QString value = parser.valueForVariable(variableName);
        if (!value.isNull()) {
            check(!value.isEmpty());
            check(parser.variables().contains(variableName + u'=' + value));
        }
    };
    for (const QString &variable : parser.variables()) {
        check(!variable.isEmpty() && !variable.contains(u'&'));
        check(!variable.startsWith(u'?'));
        checkValue(variable.section(u'=', 0, 0));
    }
    checkValue(name);

    const QString trackId = GetSong::trackIdOf(url);
    check(url.endsWith(trackId));
}

// Every value of a document as the XML reader left it, children in order: what it is and where its text lies, or
// its number. Where nodes sit in the arenas is left out, since the two halves keep theirs apart.
void appendTree(const PropertyListDocument &doc, quint32 index, QByteArray &out)
{
    const PlistNode &node = doc.node(index);
    out += char('a' + node.kind);
    out += char('0' + node.flags);
    if (node.kind != PlistNode::Dictionary && node.kind != PlistNode::Array) {
        out += QByteArray::number(node.inlineBits()) + ' ';
        return;
    }
    out += '[';
    for (quint32 i = 0; i < node.b; ++i)
        appendTree(doc, node.a + i, out);
    out += ']';
}

// Read in two halves, split where the input's last bytes say and handed over when the first half arrives or at a
// byte they say, an XML document has the very values it has read in one pass.
void readsTheSameInTwoHalves(QByteArrayView input)
{
    quint64 seed = 0;
    for (const char c : input.last(std::min<qsizetype>(8, input.size())))
        seed = seed << 8 | static_cast<unsigned char>(c);
    XmlPropertyListReader::Halves halves;
    halves.from = qsizetype(seed % quint64(input.size() + 1));
    if (seed & 1)
        halves.handOverAt = halves.from + qsizetype((seed >> 32) % quint64(input.size() - halves.from + 1));
    const QByteArray bytes = input.toByteArray();
    PropertyListDocument onePass, twoHalves;
    for (PropertyListDocument *doc : {&onePass, &twoHalves}) {
        doc->bytes = bytes.constData();
        doc->size = bytes.size();
    }
    const bool read = XmlPropertyListReader::read(onePass, std::nullopt);
    check(XmlPropertyListReader::read(twoHalves, halves) == read);
    if (!read)
        return;
    QByteArray whole, halved;
    appendTree(onePass, onePass.root, whole);
    appendTree(twoHalves, twoHalves.root, halved);
    check(whole == halved);
}

void propertyList(QByteArrayView input)
{
    if (!input.startsWith("bplist"))
        readsTheSameInTwoHalves(input);
    const std::optional<PropertyList> list = PropertyList::readData(input.toByteArray());
    if (!list)
        return;
    const PlistValue root = list->root();
    check(root.isDictionary());
    TreeWalk(input.size()).visit(root, 0);
}

void binaryPropertyList(QByteArrayView input)
{
    if (input.startsWith("bplist"))
        propertyList(input);
}

void songList(QByteArrayView input)
{
    const std::optional<PropertyList> library = PropertyList::readData(input.toByteArray());
    if (!library)
        return;
    for (const QString &device : {QString(), QStringLiteral("bb10")}) {
        TrackIndex index;
        const QString body = SongListBuilder::build(library->root(), device, index);
        check(body.startsWith(QLatin1StringView("<songs>\r\n")) && body.endsWith(QLatin1StringView("</songs>")));

        // Content-Length is counted in UTF-16 code units: the bytes sent must be exactly that many.
        const QByteArray ascii = toLossyAscii(body);
        check(ascii.size() == body.size());
        check(std::all_of(ascii.cbegin(), ascii.cend(), [](char c) { return static_cast<unsigned char>(c) < 0x80; }));

        for (const qint32 id : index.ids()) {
            const QString location = textFromUtf8(index.location(id));
            check(SongLocation::isLocalFile(location));
            if (const std::optional<QString> path = SongLocation::filePath(location))
                check(path->startsWith(u'/'));
            QByteArray scratch;
            SongLocation::fileNameUtf8(index.location(id), scratch);
        }
    }
}

} // namespace FuzzEntryPoints
