#pragma once

#include "PlistTreeBuilder.h"
#include "PropertyListDocument.h"
#include "ReadAhead.h"
#include "XmlText.h"

#include <QByteArrayView>

#include <atomic>
#include <limits>
#include <memory>
#include <string_view>

// Reads an XML property list in place: one pass over the bytes that checks the whole file is well-formed and
// records each value as a node pointing at its raw text, which is only decoded when a caller asks for it
// (XmlText::decode). This is the grammar; the characters are XmlText's, the arena is PlistTreeBuilder's, and a
// file still being read is followed through ReadAhead.
//
// A large document is read in two halves at once. Another thread reads from the first key after three fifths of
// the way whose value is a dictionary (in a library, a track's) as though that dictionary had just been opened,
// and past its end as though the container that holds it were a dictionary too (in a library, the playlists after
// the tracks), up to that one's end. If this reader then arrives exactly where that half starts, inside a
// dictionary that wants a key, the values are the same as it would have read itself: it has the other stop before
// its next element, takes over what it read, and goes on from there. Anywhere else (the key was inside a comment,
// say), it drops them and reads on alone.
//
// The second half starts past the middle because it can only start once the file has been read that far, and
// because the playlists, about a tenth of a library, cost nearly twice what the tracks cost per byte. Reading a
// 100,000-track library in the server, three fifths gave the shortest parse.
class XmlPropertyListReader
{
public:
    // Below this the second thread would cost more than it saves.
    static constexpr qsizetype kTwoHalvesBytes = qsizetype(4) << 20;
    // Where, in a document of `size` bytes, the second half looks for its start.
    static constexpr qsizetype secondHalfFrom(qsizetype size) { return size / 5 * 3; }

    // Fills doc.nodes (and doc.laterNodes) and doc.root from doc.bytes; false unless the bytes are a well-formed
    // "plist 1.0" document with a dictionary at the top. While doc.arriving is set, reads only what has arrived.
    // A document of `twoHalvesFrom` bytes or more is read in two halves.
    static bool read(PropertyListDocument &doc, qsizetype twoHalvesFrom = kTwoHalvesBytes);

private:
    class SecondHalf;
    // What the reader of the first half wants of the second's.
    enum class Wish { ReadOn, HandOver, Stop };

    using Element = XmlText::Element;

    struct StartTag
    {
        Element element = Element::Unknown;
        bool empty = false;        // <name/>
        const char *next = nullptr; // past the tag, or nullptr when malformed
    };

    explicit XmlPropertyListReader(PropertyListDocument &doc);
    // The reader of the second half, from `start` on.
    XmlPropertyListReader(PropertyListDocument &doc, const char *start);

    bool readDocument(qsizetype twoHalvesFrom);

    const char *readUpToRoot(const char *p) const;
    const char *readProlog(const char *p) const;
    const char *readPlistStart(const char *p) const;
    const char *skipMisc(const char *p) const;
    const char *openRootDictionary(const char *p);
    const char *readNested(const char *p);
    const char *meetSecondHalf(const char *p);
    void dropSecondHalf();
    const char *readSecondHalf(const char *p, const std::atomic<Wish> &wish);
    const char *readNestedStep(const char *p);
    const char *readChild(const char *p);
    const char *openContainer(const StartTag &tag);
    const char *closeContainer(const char *p);
    const char *readLeaf(const StartTag &tag);
    const char *readMixedContent(const char *p, Element element, const char *&contentEnd, quint8 &flags) const;
    static bool finishScalar(PlistNode &node, QByteArrayView raw);
    static bool finishScalarText(PlistNode &node, std::string_view text);

    StartTag readStartTag(const char *p) const;

    PropertyListDocument &m_doc;
    ReadAhead m_bytes;
    PlistTreeBuilder m_tree;
    std::unique_ptr<SecondHalf> m_secondHalf;
    // Where the reading next has to look at the second half: secondHalfFrom(), then where that half starts.
    qsizetype m_secondHalfAt = std::numeric_limits<qsizetype>::max();
    // Reading the second half: just past the end tag of the dictionary it started in, once read.
    const char *m_standInEnd = nullptr;
};
