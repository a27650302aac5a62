#!/usr/bin/env bash
# Builds the library and runs the demonstration host on a sample light.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake --preset gcc >/dev/null
cmake --build --preset gcc -j "$(nproc)" --target zel-demo zel_lumenfield
build/gcc/zel-demo
