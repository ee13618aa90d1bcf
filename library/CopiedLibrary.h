// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>
#include <QStringView>

// A library copied from another computer names that computer's paths: "file://localhost/C:/Users/ana/Music/…"
// from Windows, "file:///Users/ana/Music/…" from a Mac. iTunes keeps its files below the library's top-level
// "Music Folder", so the part of a Location below that folder still says where the file is, relative to wherever
// the folder was copied.
namespace CopiedLibrary {

// Where the song at `location` may lie now, in the order to try: below "<folder of libraryFilePath>/<last name
// of musicFolder>", then below `userMusicFolder` (when one is given). Nothing when the location is not a local
// file, is not below `musicFolder` (both file URLs, compared decoded; Windows paths in any letter case), does not
// decode as UTF-8, or would step out of the folder it is mapped into.
QStringList candidatePaths(QStringView location, QStringView musicFolder, const QString &libraryFilePath,
                           const QString &userMusicFolder);

} // namespace CopiedLibrary
