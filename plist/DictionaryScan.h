// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "PropertyList.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QLatin1StringView>

#include <array>
#include <cstddef>
#include <memory>

// Reads the entries of one large dictionary whose values are dictionaries (a library's tracks) once each, in runs
// in file order, looking up the same few keys in each. It asks the processor for what a lookup reads a few entries
// before the lookup comes, and, over a property list given to it to use up, gives the memory under the text of the
// entries a run has read back to the system as the run goes. Runs of different threads may go on at once.
class DictionaryScan
{
public:
    static constexpr std::size_t maxKeys = 16;

    // Over a dictionary of a property list that stays as it is.
    explicit DictionaryScan(const PlistValue &dictionary);
    // Over the dictionary under `key` at the top of `list`, which is used up: read afterwards through any value
    // taken from it before, the text of entries a run is done with is unspecified (never a crash).
    DictionaryScan(PropertyList &&list, QLatin1StringView key);

    qsizetype count() const { return m_dictionary.count(); }

    // The values under `keys` in the dictionary of entry i, as PlistValue::value() gives each, found in one pass.
    // `runEnd`: where the run that reads i ends for now, so that nothing past it is asked for ahead.
    template<std::size_t N>
    std::array<PlistValue, N> values(qsizetype i, qsizetype runEnd, const std::array<QLatin1StringView, N> &keys) const
    {
        static_assert(N <= maxKeys, "look up at most maxKeys keys in one pass");
        std::array<PlistValue, N> found;
        find(i, runEnd, keys.data(), found.data(), qsizetype(N));
        return found;
    }

    // Says that a run which began at entry `runBegin` has read every entry before `next`, and reads none of them
    // again; each run says so at each entry it comes to.
    void readUpTo(qsizetype runBegin, qsizetype next);

    // A string's text as UTF-8 without a copy where the file spells it as it is: a view into the document, or into
    // `decoded` when references had to be resolved. Valid while both live. Other types: an empty view.
    static QByteArrayView utf8(const PlistValue &string, QByteArray &decoded);

private:
    void find(qsizetype i, qsizetype runEnd, const QLatin1StringView *keys, PlistValue *found, qsizetype count) const;

    // A list it uses up, and whether it has the only hold on it.
    std::shared_ptr<const PropertyListDocument> m_document;
    bool m_givesBack = false;
    PlistValue m_dictionary;
};
