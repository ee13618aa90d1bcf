// SPDX-License-Identifier: GPL-3.0-or-later
#include "ThreadPriority.h"

#include <QtGlobal>

#if defined(Q_OS_LINUX) && !defined(PELLISOR_PORTABLE_IO)
#include <sys/resource.h>
#include <unistd.h>

namespace {

// Enough that the scheduler prefers the event loop whenever both want a core (a nice-0 thread weighs about ten
// times a nice-10 one), not so much that the work starves when other programs keep the machine busy.
constexpr int workerNiceness = 10;

} // namespace

void lowerCurrentThreadPriority()
{
    // On Linux a nice value belongs to the thread, and the threads it starts inherit it.
    ::setpriority(PRIO_PROCESS, ::gettid(), workerNiceness);
}

#else

void lowerCurrentThreadPriority()
{
}

#endif
