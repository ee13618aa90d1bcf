// SPDX-License-Identifier: GPL-3.0-or-later
#include "LibraryPreferences.h"

#include "PropertyList.h"
#include "PropertyListWriter.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>
#include <cmath>
#include <functional>

namespace {

const QLatin1StringView recentPathsKey("iTunesRecentDatabasePaths");

// One element of "iTunesRecentDatabasePaths": a text, or whatever else the file holds there, kept as it is.
struct RecentPath
{
    QString text;
    PlistValue other;
};
using RecentPaths = QList<RecentPath>;

qsizetype indexOf(const RecentPaths &paths, const QString &path)
{
    for (qsizetype i = 0; i < paths.size(); ++i) {
        if (paths[i].other.isAbsent() && paths[i].text == path)
            return i;
    }
    return -1;
}

RecentPaths recentPathsOf(const PlistValue &array)
{
    RecentPaths paths;
    for (qsizetype i = 0; i < array.count(); ++i) {
        const PlistValue element = array.at(i);
        paths.append(element.isString() ? RecentPath{element.toString(), {}} : RecentPath{{}, element});
    }
    return paths;
}

void undo(RecentPaths &paths, const LibraryPreferences::RecordedLibrary &recorded)
{
    const qsizetype at = indexOf(paths, recorded.path);
    if (at < 0)
        return; // gone already
    paths.removeAt(at);
    if (recorded.previousIndex >= 0)
        paths.insert(std::min(recorded.previousIndex, paths.size()), RecentPath{recorded.path, {}});
}

QByteArray preferencesText(const PlistValue &root, const RecentPaths &paths)
{
    PropertyListWriter writer;
    const auto writePaths = [&] {
        writer.writeKey(recentPathsKey);
        writer.beginArray();
        for (const RecentPath &path : paths) {
            if (path.other.isAbsent())
                writer.writeString(path.text);
            else
                writer.writeValue(path.other);
        }
        writer.endArray();
    };
    bool pathsWritten = false;
    writer.beginDictionary();
    for (qsizetype i = 0; i < root.count(); ++i) {
        const QString key = root.keyAt(i);
        if (key != recentPathsKey) {
            writer.writeKey(key);
            writer.writeValue(root.valueAt(i));
        } else if (!pathsWritten) {
            writePaths(); // where it was; a second entry under the same key was never read, and goes
            pathsWritten = true;
        }
    }
    if (!pathsWritten)
        writePaths();
    writer.endDictionary();
    return writer.finish();
}

bool sameValue(const PlistValue &a, const PlistValue &b)
{
    if (a.type() != b.type() || a.count() != b.count())
        return false;
    switch (a.type()) {
    case PlistValue::Type::Absent: return true;
    case PlistValue::Type::Dictionary:
        for (qsizetype i = 0; i < a.count(); ++i) {
            if (a.keyAt(i) != b.keyAt(i) || !sameValue(a.valueAt(i), b.valueAt(i)))
                return false;
        }
        return true;
    case PlistValue::Type::Array:
        for (qsizetype i = 0; i < a.count(); ++i) {
            if (!sameValue(a.at(i), b.at(i)))
                return false;
        }
        return true;
    case PlistValue::Type::String: return a.toString() == b.toString();
    case PlistValue::Type::Integer: return a.toInteger() == b.toInteger();
    case PlistValue::Type::Real: return a.toReal() == b.toReal() || (std::isnan(a.toReal()) && std::isnan(b.toReal()));
    case PlistValue::Type::Boolean: return a.toBool() == b.toBool();
    // The XML form keeps whole seconds, as macOS writes it too.
    case PlistValue::Type::Date:
        return a.toDateTime().isValid() && a.toDateTime().toSecsSinceEpoch() == b.toDateTime().toSecsSinceEpoch();
    case PlistValue::Type::Data: return a.toData() == b.toData();
    }
    return false;
}

QList<std::pair<QString, PlistValue>> otherEntries(const PlistValue &dictionary)
{
    QList<std::pair<QString, PlistValue>> entries;
    for (qsizetype i = 0; i < dictionary.count(); ++i) {
        if (dictionary.keyAt(i) != recentPathsKey)
            entries.append({dictionary.keyAt(i), dictionary.valueAt(i)});
    }
    return entries;
}

// XML cannot carry every text a binary list can (control characters, a lone CR), and a date may not read at
// all: the new text must read back as everything the old file held, with exactly the intended paths.
bool writtenFaithfully(const PlistValue &original, const PlistValue &written, const RecentPaths &paths)
{
    const PlistValue array = written.value(recentPathsKey);
    if (array.count() != paths.size())
        return false;
    for (qsizetype i = 0; i < paths.size(); ++i) {
        const bool same = paths[i].other.isAbsent() ? array.at(i).isString() && array.at(i).toString() == paths[i].text
                                                    : sameValue(paths[i].other, array.at(i));
        if (!same)
            return false;
    }
    const auto before = otherEntries(original);
    const auto after = otherEntries(written);
    return before.size() == after.size()
           && std::equal(before.begin(), before.end(), after.begin(), [](const auto &a, const auto &b) {
                  return a.first == b.first && sameValue(a.second, b.second);
              });
}

// Reads the preference file, lets `change` edit the recent paths and writes the file back when it says it
// changed them.
bool isPresent(const QFileInfo &info)
{
    return info.exists() || info.isSymLink();
}

bool update(const QString &homePath, const std::function<bool(RecentPaths &)> &change, QString *error)
{
    const QString path = LibraryPreferences::preferencesFilePath(homePath);
    const QFileInfo info(path);
    std::optional<PropertyList> preferences;
    if (isPresent(info)) {
        preferences = PropertyList::readFile(path);
        if (!preferences) {
            *error = QStringLiteral("%1 cannot be read as a property list, so it was left as it is.").arg(path);
            return false;
        }
    }
    const PlistValue root = preferences ? preferences->root() : PlistValue();
    const PlistValue array = root.value(recentPathsKey);
    RecentPaths paths = array.isArray() ? recentPathsOf(array) : RecentPaths();
    if (!change(paths))
        return true;

    const QByteArray text = preferencesText(root, paths);
    const std::optional<PropertyList> written = PropertyList::readData(text);
    if (!written || !writtenFaithfully(root, written->root(), paths)) {
        *error = QStringLiteral("%1 could not be written without changing what it holds, so it was left as it is.")
                     .arg(path);
        return false;
    }

    QSaveFile file(path);
    if (!QDir().mkpath(info.absolutePath()) || !file.open(QIODevice::WriteOnly) || file.write(text) != text.size()
        || !file.commit()) {
        *error = QStringLiteral("%1 could not be written: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

} // namespace

QString LibraryPreferences::preferencesFilePath(const QString &homePath)
{
    return homePath + QStringLiteral("/Library/Preferences/com.apple.iApps.plist");
}

std::optional<QString> LibraryPreferences::recentDatabasePath(const QString &homePath)
{
    const std::optional<PropertyList> preferences = PropertyList::readFile(preferencesFilePath(homePath));
    if (!preferences)
        return std::nullopt;
    const PlistValue paths = preferences->root().value(recentPathsKey);
    if (!paths.isArray() || paths.count() == 0)
        return std::nullopt;
    return paths.at(0).toString();
}

std::optional<LibraryPreferences::RecordedLibrary>
LibraryPreferences::recordLibrary(const QString &homePath, const QString &libraryPath,
                                  const std::optional<RecordedLibrary> &earlier, QString *error)
{
    RecordedLibrary recorded{libraryPath, -1};
    const bool written = update(
        homePath,
        [&](RecentPaths &paths) {
            if (earlier)
                undo(paths, *earlier);
            recorded.previousIndex = indexOf(paths, libraryPath);
            if (recorded.previousIndex >= 0)
                paths.removeAt(recorded.previousIndex);
            paths.prepend(RecentPath{libraryPath, {}});
            return true;
        },
        error);
    return written ? std::optional(recorded) : std::nullopt;
}

bool LibraryPreferences::forgetLibrary(const QString &homePath, const RecordedLibrary &recorded, QString *error)
{
    return update(
        homePath,
        [&](RecentPaths &paths) {
            const RecentPaths before = paths;
            undo(paths, recorded);
            return paths.size() != before.size() || indexOf(before, recorded.path) != indexOf(paths, recorded.path);
        },
        error);
}

bool LibraryPreferences::isUnreadable(const QString &homePath)
{
    const QString path = preferencesFilePath(homePath);
    return isPresent(QFileInfo(path)) && !PropertyList::readFile(path);
}

std::optional<QString> LibraryPreferences::moveAside(const QString &homePath, QString *error)
{
    const QString path = preferencesFilePath(homePath);
    // A few tries at most: each name taken is one a user left there.
    constexpr int mostTries = 100;
    for (int i = 1; i <= mostTries; ++i) {
        const QString aside = path + (i == 1 ? QStringLiteral(".unreadable") : QStringLiteral(".unreadable-%1").arg(i));
        if (isPresent(QFileInfo(aside)))
            continue;
        // rename(2) would replace a file made meanwhile; QDir's refuses to.
        if (QDir().rename(path, aside))
            return aside;
        *error = QStringLiteral("%1 could not be renamed to %2.").arg(path, aside);
        return std::nullopt;
    }
    *error = QStringLiteral("%1 could not be renamed: every name beside it is taken.").arg(path);
    return std::nullopt;
}
