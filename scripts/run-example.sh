#!/usr/bin/env bash
# The first thing to run: installs the packages the build needs (when they
# are missing), builds the plug-in and the zel-lux lighting calculator, and
# calculates the office example: direct and interreflected illuminance on
# the work plane and on the room's ceiling, floor and walls, each light's
# flux and each surface's absorbed flux checked with photons, a view of the
# room with its panels, the PDF report and the interactive 3D report.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh fonts-dejavu-core
cmake --preset gcc >/dev/null
cmake --build --preset gcc -j "$(nproc)" --target zel-lux zel_lumenfield
build/gcc/tools/zel-lux examples/office.json --view --photons 200000 --pdf --html -o out/office
echo
echo "Pictures:"
for png in out/office/*.png; do echo "  $(pwd)/$png"; done
echo "Report: $(pwd)/out/office/report.pdf"
echo "In 3D, for any browser: $(pwd)/out/office/report.html"
echo "Numbers: $(pwd)/out/office/report.json and the .csv files beside it"
