// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Makes the heap give large freed blocks back to the system at once. Each song list allocates tens of megabytes
// on worker threads and frees them when it is done; glibc otherwise raises its thresholds after such frees and
// then keeps as much again in its per-thread heaps for good. Where the C library does not do that, or is not
// glibc (PELLISOR_PORTABLE_IO, other systems), it does nothing. Called once, before any thread starts.
void returnLargeFreedBlocksToTheSystem();
