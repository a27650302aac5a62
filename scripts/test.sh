#!/usr/bin/env bash
# Builds everything and runs every test: the native build with GCC, the same
# with Clang, the sanitizer builds and short fuzzing runs; then the Windows
# build (mingw-w64) with its tests under wine.
# Usage: scripts/test.sh [--no-windows]
set -euo pipefail
cd "$(dirname "$0")/.."
windows=1
[ "${1:-}" = "--no-windows" ] && windows=0
scripts/deps.sh
jobs=$(nproc)

run_preset() {
  local preset=$1
  shift
  echo "== $preset =="
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  ctest --preset "$preset" -j "$jobs" "$@"
}

# The report page's browser test runs once, with the GCC build.
run_preset gcc
run_preset clang -LE browser
# Memory errors, undefined behaviour and leaks: any report fails the run.
run_preset asan -LE browser
# Data races in the multi-threaded tests (their names contain "Thread").
run_preset tsan
# Short bounded fuzzing of the area light's record, of names and of profile
# files, over the committed seed corpora (longer runs: see the README).
echo "== fuzz =="
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$jobs" --target fuzz_short

if [ "$windows" = 1 ]; then
  start=$SECONDS
  scripts/deps.sh --windows
  echo "== windows: toolchain and wine ready after $((SECONDS - start)) s =="
  # Boot the wine prefix (bounded in time) before anything runs under wine;
  # the tests keep wine's services up while they run and stop them after.
  prefix="$PWD/build/windows/wineprefix"
  cmake/wine-session.sh start "$prefix"
  trap 'cmake/wine-session.sh stop "$prefix"' EXIT
  run_preset windows
  echo "== windows stage took $((SECONDS - start)) s =="
fi
echo "== all test builds passed =="
