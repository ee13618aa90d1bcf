#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# An ordinary run without a desktop session, as a server or `make run` over ssh has it: starting, a song list and
# downloads print nothing on standard error.
# Usage: tst_QuietRun.sh <pellisor> <sample home>
set -eu
scratch=$(mktemp -d)
trap 'kill "$pid" 2>/dev/null || true; rm -rf "$scratch"' EXIT
cp -R "$2" "$scratch/home"
pid=
env -u DISPLAY -u WAYLAND_DISPLAY -u XDG_RUNTIME_DIR -u QT_QPA_PLATFORM TMPDIR="$scratch" HOME="$scratch/home" \
    "$1" 2>"$scratch/stderr" &
pid=$!
tries=0
until [ "$(curl -s http://127.0.0.1:4556/hello)" = "Hello!" ]; do
    tries=$((tries + 1)); [ $tries -lt 300 ] || { echo "FAIL: no answer to /hello" >&2; exit 1; }
    kill -0 "$pid" || { echo "FAIL: pellisor ended" >&2; cat "$scratch/stderr"; exit 1; }
    sleep 0.1
done
ids=$(curl -sf http://127.0.0.1:4556/getSongList | sed -n 's|.*<trackid>\([0-9]*\)</trackid>.*|\1|p')
[ -n "$ids" ] || { echo "FAIL: an empty song list" >&2; exit 1; }
for id in $ids $ids; do curl -sf -o /dev/null "http://127.0.0.1:4556/getSong?xx=$id"; done
kill -TERM "$pid"
wait "$pid"
[ ! -s "$scratch/stderr" ] || { echo "FAIL: standard error was not quiet:" >&2; cat "$scratch/stderr" >&2; exit 1; }
echo PASS
