// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "PropertyListDocument.h"
#include "SecondThread.h"
#include "XmlGrammar.h"

#include <atomic>
#include <future>
#include <memory>
#include <optional>

// The second half of a large document (see XmlPropertyListReader), read on a thread of its own: the entries of the
// dictionary it starts in, then what follows that dictionary's end tag as though it were more entries of the
// dictionary that holds it, up to (not including) that one's end tag.
class XmlSecondHalf
{
public:
    // Looks for its start from byte `from` on; hands over when asked, or at `handOverAt` (see
    // XmlPropertyListReader::Halves).
    XmlSecondHalf(PropertyListDocument &doc, qsizetype from, std::optional<qsizetype> handOverAt);
    // Has it stop, and waits.
    ~XmlSecondHalf();

    // Where it starts (before the white space and the "<key>" it found), or nullptr when no key from `from` on, in
    // the bytes there so far, has a dictionary for its value. Waits until it has looked.
    const char *start() { return m_startFuture.get(); }

    // Has it stop before its next element (or where it ended), and waits: where it stopped, or nullptr when what it
    // read from start() on is not well-formed. Whoever takes over what it read reads on from there.
    const char *handOver();

    // After handOver(): what it read.
    PlistTreeBuilder &tree() { return m_grammar->tree(); }
    // After handOver(): just past the end tag of the dictionary it started in, or nullptr if it did not get there.
    const char *afterStandIn() const { return m_standInEnd; }

private:
    enum class Wish { ReadOn, HandOver, Stop };

    void run(qsizetype from);
    const char *findStart(const char *from, const char *end) const;
    const char *read(const char *p);
    bool shouldStop(const char *p) const;

    PropertyListDocument &m_doc;
    const std::optional<qsizetype> m_handOverAt;
    std::promise<const char *> m_start;
    std::shared_future<const char *> m_startFuture;
    std::atomic<Wish> m_wish = Wish::ReadOn;
    std::unique_ptr<XmlGrammar> m_grammar;
    const char *m_standInEnd = nullptr;
    const char *m_end = nullptr;
    SecondThread m_thread; // last: it uses the members above
};
