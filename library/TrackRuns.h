// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QtGlobal>

#include <algorithm>
#include <array>
#include <mutex>
#include <optional>

// The tracks of a list that two threads share: each lists a run of them in order, starting with one half each, and
// one that has run out takes over the far half of what the other has left. Neither then waits long for the other
// when one is slower: on a shared machine one core is often a third slower than the other for minutes at a time.
class TrackRuns
{
public:
    // Too few to be worth a run of their own.
    static constexpr qsizetype kLeastTaken = 256;

    struct Span
    {
        qsizetype begin;
        qsizetype end;
    };
    struct Batch
    {
        qsizetype begin;
        qsizetype end;    // begin when the run is done
        qsizetype runEnd; // where the run ends for now
    };

    // Thread 0 starts on [0, split), thread 1 on [split, count).
    TrackRuns(qsizetype split, qsizetype count)
        : m_runs{{{0, split}, {split, count}}}
    {
    }

    // Thread `thread`'s first run.
    Span start(int thread)
    {
        const std::lock_guard lock(m_mutex);
        return {m_runs[thread].next, m_runs[thread].end};
    }

    // The next tracks of that thread's run, at most `size` of them.
    Batch next(int thread, qsizetype size)
    {
        const std::lock_guard lock(m_mutex);
        Run &run = m_runs[thread];
        const qsizetype begin = run.next;
        run.next = std::min(run.end, begin + size);
        return {begin, run.next, run.end};
    }

    // For a thread whose run is done: makes the far half of what the other has left its next run; nothing when
    // too little is left.
    std::optional<Span> takeOver(int thread)
    {
        const std::lock_guard lock(m_mutex);
        Run &other = m_runs[1 - thread];
        const qsizetype left = other.end - other.next;
        if (left < 2 * kLeastTaken)
            return std::nullopt;
        const qsizetype middle = other.next + left / 2;
        m_runs[thread] = {middle, other.end};
        other.end = middle;
        return Span{middle, m_runs[thread].end};
    }

private:
    struct Run
    {
        qsizetype next;
        qsizetype end;
    };

    std::mutex m_mutex;
    std::array<Run, 2> m_runs;
};
