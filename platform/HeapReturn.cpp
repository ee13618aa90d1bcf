// SPDX-License-Identifier: GPL-3.0-or-later
#include "HeapReturn.h"

#if defined(__GLIBC__) && !defined(PELLISOR_PORTABLE_IO)
#include <malloc.h>

namespace {

// glibc's own starting value. Setting it at all is what matters: it stops glibc from raising the value (and the
// trim threshold with it) each time a large block is freed.
constexpr int mmapThresholdBytes = 128 * 1024;

} // namespace

void returnLargeFreedBlocksToTheSystem()
{
    ::mallopt(M_MMAP_THRESHOLD, mmapThresholdBytes);
}

#else

void returnLargeFreedBlocksToTheSystem()
{
}

#endif
