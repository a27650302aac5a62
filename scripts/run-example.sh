#!/usr/bin/env bash
# The first thing to run: installs the packages the build needs (when they
# are missing), builds the plug-in and the zel-lux lighting calculator, and
# calculates the office example: illuminance on the work plane, the back
# wall and the floor, each light's flux measured with photons, and a view
# of the room with its panels.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh fonts-dejavu-core
cmake --preset gcc >/dev/null
cmake --build --preset gcc -j "$(nproc)" --target zel-lux zel_lumenfield
build/gcc/tools/zel-lux examples/office.json --view --photons 200000 -o out/office
echo
echo "Pictures:"
for png in out/office/*.png; do echo "  $(pwd)/$png"; done
echo "Numbers: $(pwd)/out/office/report.json and the .csv files beside it"
