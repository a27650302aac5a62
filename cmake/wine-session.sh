#!/bin/sh
# A wine session for the Windows tests: a booted prefix, one wine server and
# wine's background services kept running while the test programs come and
# go, so that each program starts in a fraction of a second instead of
# booting wine anew.
#
# Usage: cmake/wine-session.sh start PREFIX [SECONDS]   (default 900)
#        cmake/wine-session.sh stop PREFIX
# The session ends by itself after SECONDS at the latest.
set -eu
action=$1
prefix=$2
hold=${3:-900}
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
pid_file="$prefix/.session.pid"
fifo="$prefix/.session.fifo"

running() { [ -f "$pid_file" ] && kill -0 "$(cat "$pid_file")" 2>/dev/null; }

case "$action" in
  start)
    mkdir -p "$prefix"
    # Wine's background processes keep whatever pipes they inherit open, and
    # a test runner waits for its pipes to close: they get none of ours. A
    # server that already runs for this prefix is used as it is.
    wineserver -p30 </dev/null >/dev/null 2>&1 || true
    if [ ! -f "$prefix/.booted" ]; then
      # The first start creates the prefix; give it time, but not forever.
      timeout 300 wineboot -i </dev/null >/dev/null 2>&1
      touch "$prefix/.booted"
    fi
    if ! running; then
      # Wine stops its services when its last program ends. One program that
      # waits for a key on a pipe keeps them up; the pipe closes when the
      # writer (a sleep) ends, at the stop command or after SECONDS.
      rm -f "$fifo"
      mkfifo "$fifo"
      wine cmd /c pause <"$fifo" >/dev/null 2>&1 &
      sleep "$hold" >"$fifo" 2>/dev/null &
      echo $! >"$pid_file"
    fi
    # Returns once wine answers, its services up.
    timeout 300 wine cmd /c exit </dev/null >/dev/null 2>&1
    ;;
  stop)
    if running; then kill "$(cat "$pid_file")"; fi
    rm -f "$pid_file" "$fifo"
    ;;
  *)
    echo "usage: $0 start|stop PREFIX [SECONDS]" >&2
    exit 2
    ;;
esac
