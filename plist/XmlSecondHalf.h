#pragma once

// Internal to the XML reader.

#include "XmlPropertyListReader.h"

#include <algorithm>
#include <atomic>
#include <future>
#include <memory>
#include <string_view>
#include <thread>

// The second half of a large document, read on a thread of its own.
class XmlPropertyListReader::SecondHalf
{
public:
    explicit SecondHalf(PropertyListDocument &doc)
        : m_doc(doc)
        , m_startFuture(m_start.get_future())
        , m_thread([this] { run(); })
    {
    }

    ~SecondHalf()
    {
        m_wish = Wish::Stop;
        if (m_thread.joinable())
            m_thread.join();
    }

    // Where it starts (before the white space and the "<key>" it found), or nullptr when no key from
    // secondHalfFrom() on, in the bytes there so far, has a dictionary for its value. Waits until it has looked.
    const char *start() { return m_startFuture.get(); }

    // Has it stop before the next element (or where it ended), and waits: where it stopped, or nullptr when what it
    // read from start() on is not well-formed. Whoever takes over what it read reads on from there, so neither core
    // waits for the other longer than one element takes.
    const char *handOver()
    {
        m_wish = Wish::HandOver;
        if (m_thread.joinable())
            m_thread.join();
        return m_end;
    }

    PlistTreeBuilder &tree() { return m_reader->m_tree; }
    // After handOver(): just past the end tag of the dictionary it started in, or nullptr if it did not get there.
    const char *afterStandIn() const { return m_reader->m_standInEnd; }

private:
    void run()
    {
        ReadAhead bytes(m_doc.bytes, m_doc.size, m_doc.arriving);
        const char *from = m_doc.bytes + secondHalfFrom(m_doc.size);
        bytes.awaitAhead(from);
        const char *start = findStart(from, bytes.end());
        m_start.set_value(start);
        if (!start)
            return;
        try {
            m_reader.reset(new XmlPropertyListReader(m_doc, start));
            m_end = m_reader->readSecondHalf(start, m_wish);
        } catch (...) {
            m_end = nullptr; // the first half's reader reads on alone, and meets the same trouble
        }
    }

    // The first key from `from` on whose value is a dictionary, as a track's is in the dictionary of all tracks: an
    // entry of the dictionary that holds most of a library. Returns where the white space before it begins, since
    // that is where the reading of the first half arrives, and it looks for this start once it is past `from`.
    const char *findStart(const char *from, const char *end) const
    {
        static constexpr std::string_view keyTag = "<key>";
        for (const char *key = from; (key = std::search(key, end, keyTag.begin(), keyTag.end())) != end; ++key) {
            const char *keyEnd = std::find(key + keyTag.size(), end, '<');
            if (!XmlText::startsWith(keyEnd, end, "</key>"))
                continue;
            const char *value = XmlText::skipSpace(keyEnd + 6, end);
            if (!XmlText::startsWith(value, end, "<dict>"))
                continue;
            const char *start = key;
            while (start > m_doc.bytes && XmlText::isSpace(start[-1]))
                --start;
            if (start >= from)
                return start;
        }
        return nullptr;
    }

    PropertyListDocument &m_doc;
    std::promise<const char *> m_start;
    std::shared_future<const char *> m_startFuture;
    std::atomic<Wish> m_wish = Wish::ReadOn;
    std::unique_ptr<XmlPropertyListReader> m_reader;
    const char *m_end = nullptr;
    std::thread m_thread; // last: it uses the members above
};
