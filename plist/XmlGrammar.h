// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "PlistTreeBuilder.h"
#include "PropertyListDocument.h"
#include "ReadAhead.h"
#include "XmlText.h"

// The grammar of an XML property list, read in place: each step checks its part of the file is well-formed and
// records each value as a node pointing at its raw text, which is only decoded when a caller asks for it
// (XmlText::decode). The characters are XmlText's, the arena is PlistTreeBuilder's, and a file still being read is
// followed through ReadAhead. Where the reading starts and stops is up to the reader that drives it.
class XmlGrammar
{
public:
    // For the whole document: its values go to doc.nodes.
    explicit XmlGrammar(PropertyListDocument &doc);
    // For the bytes from `start` on, inside a dictionary another reader has open: their values go to doc.laterNodes.
    XmlGrammar(PropertyListDocument &doc, const char *start);

    ReadAhead &bytes() { return m_bytes; }
    PlistTreeBuilder &tree() { return m_tree; }

    // The byte-order mark, declaration, DOCTYPE, comments and <plist> start tag.
    const char *readUpToRoot(const char *p) const;
    const char *openRootDictionary(const char *p);
    // Reads until every open container is closed, or the reading reaches byte `pauseAt`; nullptr when malformed.
    const char *readNested(const char *p, qsizetype pauseAt);
    // The next element, end tag, comment or processing instruction inside the open containers. Changes nothing when
    // it fails: nullptr.
    const char *readStep(const char *p);
    // Once the root is closed and the whole file is in: what may follow it up to the end of the document; nullptr
    // if anything else does.
    const char *readAfterRoot(const char *p) const;

private:
    using Element = XmlText::Element;

    struct StartTag
    {
        Element element = Element::Unknown;
        bool empty = false;        // <name/>
        const char *next = nullptr; // past the tag, or nullptr when malformed
    };

    const char *readProlog(const char *p) const;
    const char *skipMisc(const char *p) const;
    const char *readChild(const char *p);
    const char *openContainer(const StartTag &tag);
    const char *closeContainer(const char *p);
    const char *readLeaf(const StartTag &tag);
    const char *readMixedContent(const char *p, Element element, const char *&contentEnd, quint8 &flags) const;
    StartTag readStartTag(const char *p) const;

    ReadAhead m_bytes;
    PlistTreeBuilder m_tree;
    const std::atomic<bool> *const m_stop;
};
