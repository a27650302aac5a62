#!/usr/bin/env bash
# Instructions per shader call, counted by callgrind (stable on a noisy
# machine). Each case runs twice, with N and 11·N calls; the difference
# divided by 10·N cancels the set-up and leaves the cost of one turn of the
# calling loop. The loop alone (a copy of a prepared state handed to a call
# that does nothing) is counted as "harness" and taken off every case, which
# leaves the call itself, including the reference host's work.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake --preset bench >/dev/null
cmake --build --preset bench -j "$(nproc)" --target zel_bench zel_lumenfield >/dev/null
bin=build/bench/bench/zel_bench
n=${1:-1000}
count() {
  local out
  out=$(mktemp)
  valgrind --tool=callgrind --callgrind-out-file="$out" "$bin" --calls "$1" --case "$2" >/dev/null 2>&1
  callgrind_annotate "$out" 2>/dev/null | awk '/PROGRAM TOTALS/ {gsub(",", "", $1); print $1}'
  rm -f "$out"
}
per_turn() {
  local a b
  a=$(count "$n" "$1")
  b=$(count $((11 * n)) "$1")
  echo "($b - $a) / (10 * $n)" | bc -l
}
harness=$(per_turn harness)
printf '%-20s %12.1f  (taken off every case)\n' harness "$harness"
printf '%-20s %12s\n' case "instr/call"
for c in baseline rect_cosine_lumen spot_cone_candela rect_shadow profile photon_disc \
         photon_sphere visible_rect visible_sphere; do
  printf '%-20s %12.1f\n' "$c" "$(echo "$(per_turn "$c") - $harness" | bc -l)"
done
