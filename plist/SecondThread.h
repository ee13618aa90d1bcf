// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <system_error>
#include <thread>

// Work that runs beside the caller on a thread of its own, or, when no thread can be started (the process is at its
// limit), right here before the constructor returns. Everything that shares its work with a second thread is
// written to come out the same either way, one part after the other.
class SecondThread
{
public:
    template<class Work>
    explicit SecondThread(const Work &work)
    {
        if (!s_refused.load(std::memory_order_relaxed)) {
            try {
                m_thread = std::thread(work); // a copy: `work` is still whole if this fails
                return;
            } catch (const std::system_error &) {
            }
        }
        work();
    }
    ~SecondThread() { join(); }
    SecondThread(const SecondThread &) = delete;
    SecondThread &operator=(const SecondThread &) = delete;

    // Waits until the work is done.
    void join()
    {
        if (m_thread.joinable())
            m_thread.join();
    }

    // From now on, every SecondThread of this process acts as though no thread could be started: tests use this to
    // walk the path a process at its limit takes, with no child process held to a limit.
    static void refuseThreads(bool refuse) { s_refused.store(refuse, std::memory_order_relaxed); }

private:
    static inline std::atomic<bool> s_refused = false;
    std::thread m_thread;
};
