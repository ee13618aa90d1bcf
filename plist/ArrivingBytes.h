// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QtGlobal>

#include <atomic>
#include <condition_variable>
#include <mutex>

// How much of a buffer another thread has filled so far, so that a parse can start while a file is still being
// read and overlap the two.
class ArrivingBytes
{
public:
    struct Progress
    {
        qsizetype arrived = 0;
        bool complete = false; // no more will arrive
    };

    // Blocks until at least `wanted` bytes have arrived or no more will.
    Progress waitFor(qsizetype wanted) const
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [&] { return m_progress.arrived >= wanted || m_progress.complete; });
        return m_progress;
    }

    void arrive(qsizetype total, bool complete)
    {
        {
            const std::lock_guard lock(m_mutex);
            m_progress = {total, complete};
        }
        m_changed.notify_all();
    }

    // Tells the filling thread that nobody needs the rest.
    void cancel() { m_cancelled.store(true, std::memory_order_relaxed); }
    bool isCancelled() const { return m_cancelled.load(std::memory_order_relaxed); }

private:
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    Progress m_progress;
    std::atomic<bool> m_cancelled = false;
};
