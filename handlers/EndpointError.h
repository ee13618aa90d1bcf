#pragma once

#include <QString>

#include <exception>

// The failure an endpoint answers with a 400 response: a reason for the handset to read. The endpoints catch
// this type only; anything else is a fault of ours and no answer is made up for it.
class EndpointError : public std::exception
{
public:
    explicit EndpointError(QString reason)
        : m_reason(std::move(reason))
    {
    }

    const QString &reason() const { return m_reason; }
    const char *what() const noexcept override { return "Error"; }

private:
    QString m_reason;
};
