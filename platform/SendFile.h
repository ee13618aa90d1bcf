// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <sys/types.h>

// Sends up to `length` bytes of the file open on `fileDescriptor`, from its current offset, to the socket, and
// moves the offset past what was sent. Returns the bytes sent, 0 at the end of the file, or -1 with errno set
// (EAGAIN when the socket is full). Linux copies inside the kernel (sendfile); elsewhere the bytes pass through a
// buffer, which PELLISOR_PORTABLE_IO also chooses on Linux.
ssize_t sendFileBytes(int socketDescriptor, int fileDescriptor, size_t length);
