// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What each fuzz target does with one input. Shared by the libFuzzer executables and by the corpus replay test
// of the ordinary build, so that every input the fuzzers keep is also run in every build of the test suite.
// Each function returns normally or stops the process: a broken invariant traps, like a sanitizer report.

#include <QByteArrayView>

namespace FuzzEntryPoints {

// HTTPRequest::appendBytes fed in chunks whose size comes from the input, checked against one whole feed;
// then the URL of a complete header.
void requestParser(QByteArrayView input);

// URLParser over the input's first line, asked for the variable named by its second line and for every
// variable's own name; GetSong's track ID of the same text.
void urlParser(QByteArrayView input);

// PropertyList::readData on the bytes, then every value of the tree read in every way it can be; an XML document is
// also read whole and in two halves, split where the input's last bytes say, and must give the same value tree.
void propertyList(QByteArrayView input);
// The same for binary lists only: other bytes are the XML target's business and are skipped.
void binaryPropertyList(QByteArrayView input);

// A library as the song list reads it: PropertyList, SongListBuilder for both devices, lossy ASCII.
void songList(QByteArrayView input);

} // namespace FuzzEntryPoints
