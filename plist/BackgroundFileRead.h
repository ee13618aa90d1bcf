// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ArrivingBytes.h"
#include "SecondThread.h"

#include <QFile>

// Reads a regular file into memory on another thread, so that the parse can run right behind it. Reading beats
// mapping here: with a mapping every page faults once per parse, and a file rewritten meanwhile could crash us.
class BackgroundFileRead
{
public:
    // Starts reading `size` bytes of `file` into `buffer`; both must outlive this object.
    BackgroundFileRead(QFile &file, char *buffer, qsizetype size);
    // Stops reading where it is and waits for the thread.
    ~BackgroundFileRead();

    const ArrivingBytes &arriving() const { return m_arriving; }

private:
    void run(QFile &file, char *buffer, qsizetype size);

    ArrivingBytes m_arriving;
    SecondThread m_thread; // last: it uses the member above
};
