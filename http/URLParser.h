// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

// Splits the query of a URL text into its pieces and answers the value of one variable. It decodes nothing:
// percent escapes, '+' and letter case reach the caller as they were written.
class URLParser
{
public:
    explicit URLParser(QStringView urlString);

    // The pieces between '&' separators after the first '?', as written; runs of '&' and '?' make no empty piece.
    const QStringList &variables() const { return m_variables; }

    // The value of the first piece that gives `name` a non-empty value ("name=value"), or a null string.
    QString valueForVariable(QStringView name) const;

private:
    QStringList m_variables;
};
