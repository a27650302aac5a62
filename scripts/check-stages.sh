#!/usr/bin/env bash
# The calculator's stages depend on earlier stages only: scene → grid →
# model → transport → metrics → report → cli. Prints every include that
# reaches into a later stage and fails if there is one.
set -euo pipefail
cd "$(dirname "$0")/../tools/lux"
stages=(scene grid model transport metrics report cli)
rank() {
  local i
  for i in "${!stages[@]}"; do [ "${stages[$i]}" = "$1" ] && { echo "$i"; return; }; done
  echo -1
}
status=0
for dir in "${stages[@]}"; do
  own=$(rank "$dir")
  while IFS= read -r line; do
    file=${line%%:*}
    target=$(sed -E 's|.*#include "tools/lux/([a-z_]+)/.*|\1|' <<<"$line")
    if [ "$(rank "$target")" -gt "$own" ]; then
      echo "$file reaches into the later stage $target: ${line#*:}"
      status=1
    fi
  done < <(grep -H '#include "tools/lux/' "$dir"/*.h "$dir"/*.cpp 2>/dev/null || true)
done
stray=$(find . -maxdepth 1 -type f \( -name '*.h' -o -name '*.cpp' \) ! -name main.cpp)
if [ -n "$stray" ]; then
  echo "sources outside a stage folder: $stray"
  status=1
fi
exit $status
