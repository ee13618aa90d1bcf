// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "PropertyListDocument.h"
#include "XmlGrammar.h"

#include <limits>
#include <memory>
#include <optional>

class XmlSecondHalf;

// Reads an XML property list: the whole document, through XmlGrammar.
//
// A large document is read in two halves at once. Another thread (XmlSecondHalf) reads from the first key after three
// fifths of the way whose value is a dictionary (in a library, a track's) as though that dictionary had just been
// opened, and past its end as though the container that holds it were a dictionary too (in a library, the
// playlists after the tracks), up to that one's end. If this reader then arrives exactly where that half starts,
// inside a dictionary that wants a key, the values are the same as it would have read itself: it takes over what
// the other read and goes on from where that one stopped. Anywhere else (the key was inside a comment, say), it
// drops them and reads on alone.
//
// The second half starts past the middle because it can only start once the file has been read that far, and
// because the playlists, about a tenth of a library, cost nearly twice what the tracks cost per byte. Reading a
// 100,000-track library in the server, three fifths gave the shortest parse.
class XmlPropertyListReader
{
public:
    // Where a document is read in two halves.
    struct Halves
    {
        // Where the second half looks for its start.
        qsizetype from = 0;
        // Unset: the second half hands what it has read over when this reader arrives at its start, before its next
        // element, so that neither core waits for the other longer than one element takes. Set (for tests): it
        // reads on to the first element boundary at or past this byte, or to where it ends, and hands over there,
        // whenever this reader arrives.
        std::optional<qsizetype> handOverAt;
    };

    // Below this the second thread would cost more than it saves.
    static constexpr qsizetype kTwoHalvesBytes = qsizetype(4) << 20;
    // How a document of `size` bytes is read: in one pass below kTwoHalvesBytes, else from three fifths on.
    static constexpr std::optional<Halves> halvesFor(qsizetype size)
    {
        return size < kTwoHalvesBytes ? std::nullopt : std::optional<Halves>(Halves{size / 5 * 3, {}});
    }

    // Fills doc.nodes (and doc.laterNodes) and doc.root from doc.bytes; false unless the bytes are a well-formed
    // "plist 1.0" document with a dictionary at the top. While doc.arriving is set, reads only what has arrived.
    static bool read(PropertyListDocument &doc) { return read(doc, halvesFor(doc.size)); }
    static bool read(PropertyListDocument &doc, const std::optional<Halves> &halves);

private:
    explicit XmlPropertyListReader(PropertyListDocument &doc);
    ~XmlPropertyListReader();

    bool readDocument(const std::optional<Halves> &halves);
    const char *readNested(const char *p);
    const char *meetSecondHalf(const char *p);
    void dropSecondHalf();

    PropertyListDocument &m_doc;
    XmlGrammar m_grammar;
    std::unique_ptr<XmlSecondHalf> m_secondHalf;
    // Where the reading next has to look at the second half: its `from`, then where that half starts.
    qsizetype m_secondHalfAt = std::numeric_limits<qsizetype>::max();
};
