// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Tells ThreadSanitizer of a hand-over between threads that goes through a lock it cannot see: Qt's own mutexes and
// wait conditions live in the system's Qt, which is not built for it. Everything a thread wrote before give(token)
// is visible to the thread that calls take(token) after it. Outside the race-detector build both are nothing.
#if defined(__SANITIZE_THREAD__)
#define PELLISOR_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define PELLISOR_TSAN 1
#endif
#endif

#ifdef PELLISOR_TSAN
extern "C" void __tsan_acquire(void *addr);
extern "C" void __tsan_release(void *addr);
#endif

namespace HandOver {

#ifdef PELLISOR_TSAN
inline void give(const void *token) { __tsan_release(const_cast<void *>(token)); }
inline void take(const void *token) { __tsan_acquire(const_cast<void *>(token)); }
#else
inline void give(const void *) { }
inline void take(const void *) { }
#endif

} // namespace HandOver
