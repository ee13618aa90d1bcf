#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# The Debian package that `make package` builds: built afresh into a scratch folder, then read, unpacked, and put
# to the validators Debian and the desktops use (lintian, desktop-file-validate, appstreamcli).
# Usage: tst_Package.sh <cpack> <build folder> [unfortified]
set -eu
cpack=$1
build=$2
unfortified_ok=${3:+--suppress-tags hardening-no-fortify-functions}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

"$cpack" --config "$build/CPackConfig.cmake" -B "$scratch" >"$scratch/log" 2>&1 || { cat "$scratch/log"; fail cpack; }
set -- "$scratch"/pellisor_*_*.deb
[ $# -eq 1 ] && [ -f "$1" ] || fail "no single pellisor_<version>_<arch>.deb in $(ls "$scratch")"
deb=$1

depends=$(dpkg-deb --field "$deb" Depends)
for runtime in libqt6core6 libqt6gui6 libqt6network6 libqt6widgets6; do
    echo "$depends" | grep -q "$runtime" || fail "Depends lacks $runtime: $depends"
done

dpkg-deb --extract "$deb" "$scratch/root"
listed=$(dpkg-deb --contents "$deb")
metainfo=share/metainfo/org.example.pellisor.metainfo.xml
for file in bin/pellisor share/applications/pellisor.desktop share/icons/hicolor/scalable/apps/pellisor.svg \
    share/icons/hicolor/256x256/apps/pellisor.png share/man/man1/pellisor.1.gz share/doc/pellisor/changelog.gz \
    share/doc/pellisor/copyright $metainfo; do
    file=usr/$file
    echo "$listed" | grep -q " \./$file\$" || fail "not listed: $file"
    [ -s "$scratch/root/$file" ] || fail "not unpacked: $file"
done
"$scratch/root/usr/bin/pellisor" --version | grep -q '^pellisor [0-9]' || fail "the unpacked program does not run"
gzip -dc "$scratch/root/usr/share/man/man1/pellisor.1.gz" | grep -q '^\.SH OPTIONS' || fail "the manual has no OPTIONS"
file "$scratch/root/usr/bin/pellisor" | grep -q ', stripped' || fail "the program is not stripped"

desktop-file-validate "$scratch/root/usr/share/applications/pellisor.desktop" >"$scratch/log" 2>&1 &&
    ! grep -q . "$scratch/log" || { cat "$scratch/log"; fail "desktop-file-validate"; }
appstreamcli validate --no-net --pedantic "$scratch/root/usr/$metainfo" >"$scratch/log" 2>&1 ||
    { cat "$scratch/log"; fail "appstreamcli validate"; }
# shellcheck disable=SC2086
lintian --pedantic --display-info --fail-on error,warning,info,pedantic $unfortified_ok "$deb" >"$scratch/log" 2>&1 ||
    { cat "$scratch/log"; fail lintian; }
echo "PASS: $deb"
