#pragma once

#include "PropertyListDocument.h"

#include <QByteArray>
#include <QByteArrayView>

#include <string_view>
#include <vector>

// Reads an XML property list in place: one pass over the bytes that checks the whole file is well-formed and
// records each value as a node pointing at its raw text, which is only decoded when a caller asks for it.
class XmlPropertyListReader
{
public:
    // Fills doc.nodes and doc.root from doc.bytes; false unless the bytes are a well-formed "plist 1.0" document
    // with a dictionary at the top.
    static bool read(PropertyListDocument &doc);

    // The UTF-8 text of a span that read() accepted: references, CDATA, comments and line ends resolved.
    static QByteArray decodeText(QByteArrayView raw);

private:
    enum class Element : quint8 { Unknown, Plist, Dictionary, Array, Key, String, Integer, Real, True, False, Date, Data };

    struct StartTag
    {
        Element element = Element::Unknown;
        bool empty = false;        // <name/>
        const char *next = nullptr; // past the tag, or nullptr when malformed
    };

    struct OpenContainer
    {
        quint32 pendingIndex; // where the container's own node sits in m_pending
        Element element;
    };

    explicit XmlPropertyListReader(PropertyListDocument &doc);

    bool readDocument();
    void awaitBytes(const char *p);
    bool awaitWholeFile();
    template <typename Step>
    const char *retryOnWholeFile(const char *p, Step step);

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
    const char *readEndTag(const char *p, Element element) const;
    const char *readAttributes(const char *p, bool &empty) const;

    Element readElementName(const char *&p) const;
    static PlistNode::Kind kindOf(Element element);

    PropertyListDocument &m_doc;
    const char *const m_begin;
    const char *m_end;  // of the bytes there so far
    bool m_complete;    // m_end is the end of the file
    // Children of the open containers, moved to the arena in one block when their container closes.
    std::vector<PlistNode> m_pending;
    std::vector<OpenContainer> m_open;
};
