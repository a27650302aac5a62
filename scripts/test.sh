#!/usr/bin/env bash
# Builds everything and runs every test: the native build with GCC, the same
# with Clang, the sanitizer builds and short fuzzing runs.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
jobs=$(nproc)

run_preset() {
  local preset=$1
  echo "== $preset =="
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  ctest --preset "$preset" -j "$jobs"
}

run_preset gcc
run_preset clang
# Memory errors, undefined behaviour and leaks: any report fails the run.
run_preset asan
# Data races in the multi-threaded tests (their names contain "Thread").
run_preset tsan
# Short bounded fuzzing of the area light's record, of names and of profile
# files, over the committed seed corpora (longer runs: see the README).
echo "== fuzz =="
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$jobs" --target fuzz_short
echo "== all test builds passed =="
