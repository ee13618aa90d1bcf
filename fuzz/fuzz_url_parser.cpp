// SPDX-License-Identifier: GPL-3.0-or-later
#include "FuzzEntryPoints.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    FuzzEntryPoints::urlParser(QByteArrayView(data, qsizetype(size)));
    return 0;
}
