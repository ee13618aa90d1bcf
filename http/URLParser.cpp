// SPDX-License-Identifier: GPL-3.0-or-later
#include "URLParser.h"

namespace {

// Reads the text the way a scanner that skips '&' and '?' does: each scan first skips a run of those two
// characters, then collects up to its stop character or the end, and fails when it collects nothing.
class QueryScanner
{
public:
    explicit QueryScanner(QStringView text)
        : m_text(text)
    {
    }

    QStringView scanUpTo(QChar stop)
    {
        while (m_position < m_text.size() && (m_text[m_position] == u'&' || m_text[m_position] == u'?'))
            ++m_position;
        const qsizetype start = m_position;
        while (m_position < m_text.size() && m_text[m_position] != stop)
            ++m_position;
        return m_text.sliced(start, m_position - start);
    }

private:
    QStringView m_text;
    qsizetype m_position = 0;
};

} // namespace

URLParser::URLParser(QStringView urlString)
{
    QueryScanner scanner(urlString);
    scanner.scanUpTo(u'?'); // the part before the query
    for (QStringView piece = scanner.scanUpTo(u'&'); !piece.isEmpty(); piece = scanner.scanUpTo(u'&'))
        m_variables.append(piece.toString());
}

QString URLParser::valueForVariable(QStringView name) const
{
    const qsizetype prefixLength = name.size() + 1;
    for (const QString &piece : m_variables) {
        if (piece.size() <= prefixLength)
            continue; // "name=" alone carries no value
        if (piece.startsWith(name) && piece.at(name.size()) == u'=')
            return piece.sliced(prefixLength);
    }
    return {};
}
