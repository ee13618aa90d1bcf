// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QFile>
#include <QString>

#include <memory>

namespace SongFile {

// The song file at `path`, opened and checked: a regular file with something in it. When the path names no file
// the other Unicode normal form is tried, since a library made on a Mac spells accented names decomposed while a
// copy of the files elsewhere may spell them composed. Null when there is no such file.
std::unique_ptr<QFile> open(const QString &path);

} // namespace SongFile
