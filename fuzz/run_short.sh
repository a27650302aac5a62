#!/usr/bin/env bash
# Runs every fuzz target for a bounded time over a scratch copy of its
# committed seed corpus. Any crash, leak or sanitizer report fails the run;
# the input that caused it is left in the build folder as crash-* to be
# added to the corpus as a regression case once fixed.
# Usage: run_short.sh BUILD_FUZZ_DIR
# Seconds per target: ZEL_FUZZ_SECONDS; by default the four minutes of CI
# shared among the targets.
set -euo pipefail
bin=$1
src=$(cd "$(dirname "$0")" && pwd)
targets=6
seconds=${ZEL_FUZZ_SECONDS:-$((240 / targets))}
run() {
  local target=$1 corpus=$2
  local work="$bin/corpus-$target"
  rm -rf "$work" && mkdir -p "$work"
  cp "$src/corpus/$corpus"/* "$work"/
  echo "== fuzz $target for ${seconds}s"
  (cd "$bin" && ./"$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
     -print_final_stats=0 "$work" 2>&1 | tail -n 3)
  # libFuzzer exits non-zero on a finding; pipefail carries it.
}
run fuzz_lumenfield lumenfield
run fuzz_names names
run fuzz_profile_files profiles
run fuzz_scene scenes
run fuzz_pipeline pipeline
run fuzz_profile_json profiles
