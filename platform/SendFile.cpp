// SPDX-License-Identifier: GPL-3.0-or-later
#include "SendFile.h"

#include <QtGlobal>

#include <algorithm>

#if defined(Q_OS_LINUX) && !defined(PELLISOR_PORTABLE_IO)
#include <sys/sendfile.h>

ssize_t sendFileBytes(int socketDescriptor, int fileDescriptor, size_t length)
{
    return ::sendfile(socketDescriptor, fileDescriptor, nullptr, length);
}

#else
#include <sys/socket.h>
#include <unistd.h>

namespace {

// One socket buffer's worth: a send rarely takes more, and what it does not take is read again next time.
constexpr size_t chunkBytes = 64 * 1024;

#ifdef MSG_NOSIGNAL
constexpr int noSignal = MSG_NOSIGNAL;
#else
constexpr int noSignal = 0; // the server ignores SIGPIPE where sends cannot refuse it
#endif

} // namespace

ssize_t sendFileBytes(int socketDescriptor, int fileDescriptor, size_t length)
{
    // Read at the offset, send what the socket takes, and move the offset past that alone, so nothing is lost
    // when the socket is nearly full.
    char buffer[chunkBytes];
    const off_t offset = ::lseek(fileDescriptor, 0, SEEK_CUR);
    if (offset < 0)
        return -1;
    const ssize_t got = ::pread(fileDescriptor, buffer, std::min(length, chunkBytes), offset);
    if (got <= 0)
        return got;
    const ssize_t sent = ::send(socketDescriptor, buffer, size_t(got), noSignal);
    if (sent > 0 && ::lseek(fileDescriptor, offset + sent, SEEK_SET) < 0)
        return -1;
    return sent;
}

#endif
