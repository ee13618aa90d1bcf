// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <exception>

// A failure the handset is told about: a reason it can read, answered with a 400 response. Only this type is
// answered; anything else is a fault of ours, and no answer is made up for it.
class LibraryError : public std::exception
{
public:
    explicit LibraryError(QString reason)
        : m_reason(std::move(reason))
    {
    }

    const QString &reason() const { return m_reason; }
    const char *what() const noexcept override { return "Error"; }

private:
    QString m_reason;
};
