#!/bin/sh
# Prepares the wine prefix that the Windows tests run in and keeps one wine
# server alive for them, so that each test program starts in a fraction of a
# second instead of booting a server of its own.
# Usage: cmake/wine-start.sh PREFIX [SECONDS THE SERVER STAYS AFTER ITS LAST CLIENT]
set -eu
prefix=$1
linger=${2:-30}
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$prefix"
# Wine's background processes keep whatever pipes they inherit open, and a
# test runner waits for its pipes to close: they get none of ours. A server
# that already runs for this prefix is used as it is.
wineserver -p"$linger" </dev/null >/dev/null 2>&1 || true
if [ ! -f "$prefix/.booted" ]; then
  # The first start creates the prefix; give it time, but not forever.
  timeout 300 wineboot -i </dev/null >/dev/null 2>&1
  touch "$prefix/.booted"
fi
