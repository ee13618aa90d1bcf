// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ArrivingBytes.h"

#include <QtGlobal>

// The bytes of a document that a parse may look at: all of them, or, while the file is still being read on
// another thread, those that have arrived. A parse asks for some distance ahead of where it is before each step;
// a step that fails anyway may have failed for want of bytes, and is tried again once the whole file is in.
class ReadAhead
{
public:
    // While a file is still arriving, the bytes that must be there ahead of each step before it runs; a step that
    // needs more than this is run again once the whole file is in.
    static constexpr qsizetype kDistance = qsizetype(1) << 18;

    // `arriving` is null when all `size` bytes are there already.
    ReadAhead(const char *begin, qsizetype size, const ArrivingBytes *arriving)
        : m_begin(begin)
        , m_end(arriving ? begin : begin + size)
        , m_size(size)
        , m_arriving(arriving)
        , m_complete(!arriving)
    {
    }

    const char *begin() const { return m_begin; }
    // The end of the bytes there so far; the end of the document once complete().
    const char *end() const { return m_end; }
    bool complete() const { return m_complete; }

    // Makes the next kDistance bytes from p available, as far as the file has them.
    void awaitAhead(const char *p)
    {
        if (m_complete || m_end - p >= kDistance)
            return;
        const ArrivingBytes::Progress progress = m_arriving->waitFor(p - m_begin + kDistance);
        m_end = m_begin + progress.arrived;
        m_complete = progress.complete;
    }

    // Waits for the rest of the file; false if it was all there already.
    bool awaitWholeFile()
    {
        if (m_complete)
            return false;
        const ArrivingBytes::Progress progress = m_arriving->waitFor(m_size);
        m_end = m_begin + progress.arrived;
        m_complete = true;
        return true;
    }

    // Runs a step that changes nothing when it fails; if it failed for want of bytes, runs it again on the whole
    // file. The step's result: where it stopped, or nullptr.
    template <typename Step>
    const char *retryOnWholeFile(const char *p, Step step)
    {
        const char *next = step(p);
        if (!next && awaitWholeFile())
            next = step(p);
        return next;
    }

private:
    const char *const m_begin;
    const char *m_end;
    const qsizetype m_size; // expected, while arriving
    const ArrivingBytes *const m_arriving;
    bool m_complete;
};
