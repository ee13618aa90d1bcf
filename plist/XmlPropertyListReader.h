#pragma once

#include "PlistTreeBuilder.h"
#include "PropertyListDocument.h"
#include "ReadAhead.h"
#include "XmlText.h"

#include <QByteArrayView>

#include <string_view>

// Reads an XML property list in place: one pass over the bytes that checks the whole file is well-formed and
// records each value as a node pointing at its raw text, which is only decoded when a caller asks for it
// (XmlText::decode). This is the grammar; the characters are XmlText's, the arena is PlistTreeBuilder's, and a
// file still being read is followed through ReadAhead.
class XmlPropertyListReader
{
public:
    // Fills doc.nodes and doc.root from doc.bytes; false unless the bytes are a well-formed "plist 1.0" document
    // with a dictionary at the top. While doc.arriving is set, reads only what has arrived.
    static bool read(PropertyListDocument &doc);

private:
    using Element = XmlText::Element;

    struct StartTag
    {
        Element element = Element::Unknown;
        bool empty = false;        // <name/>
        const char *next = nullptr; // past the tag, or nullptr when malformed
    };

    explicit XmlPropertyListReader(PropertyListDocument &doc);

    bool readDocument();

    const char *readUpToRoot(const char *p) const;
    const char *readProlog(const char *p) const;
    const char *readPlistStart(const char *p) const;
    const char *skipMisc(const char *p) const;
    const char *openRootDictionary(const char *p);
    const char *readNested(const char *p);
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
};
