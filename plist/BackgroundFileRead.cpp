// SPDX-License-Identifier: GPL-3.0-or-later
#include "BackgroundFileRead.h"

#include <algorithm>

namespace {

// Read a piece at a time, so that the parse can start on the first piece.
constexpr qint64 kPieceBytes = qint64(1) << 20;

} // namespace

BackgroundFileRead::BackgroundFileRead(QFile &file, char *buffer, qsizetype size)
    : m_thread([this, &file, buffer, size] { run(file, buffer, size); })
{
}

BackgroundFileRead::~BackgroundFileRead()
{
    m_arriving.cancel();
    m_thread.join();
}

void BackgroundFileRead::run(QFile &file, char *buffer, qsizetype size)
{
    qsizetype got = 0;
    while (got < size && !m_arriving.isCancelled()) {
        const qint64 n = file.read(buffer + got, std::min<qint64>(kPieceBytes, size - got));
        if (n <= 0)
            break; // the file shrank or failed: what arrived is parsed, and found truncated
        got += qsizetype(n);
        m_arriving.arrive(got, got == size);
    }
    m_arriving.arrive(got, true);
}
