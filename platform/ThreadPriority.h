// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Lowers the scheduling priority of the calling thread alone (on Linux, its nice value), so that the event loop's
// thread gets a core at once whenever it has something to do while this one computes. Where a thread's priority
// cannot be set on its own (PELLISOR_PORTABLE_IO, other systems), it does nothing.
void lowerCurrentThreadPriority();
