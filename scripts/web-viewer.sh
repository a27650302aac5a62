#!/usr/bin/env bash
# Builds the report page's viewer for zel-lux --html: installs the pinned npm
# packages (package-lock.json, with npm ci) into the build folder and bundles
# the page's scripts with three.js into one HTML template. When that cannot
# be done (no npm, the registry out of reach), the template is left empty
# and missing.txt says why: zel-lux then builds without the viewer, refuses
# --html with that reason, and the browser test skips.
# Usage: scripts/web-viewer.sh SOURCE_DIR BUILD_DIR
set -uo pipefail
src=$1
out=$2
mkdir -p "$out"
page="$out/report-page.html"
reason="$out/missing.txt"
stamp="$out/node_modules/.zel-lux-lock"

give_up() {
  echo "zel-lux report page: $1; zel-lux --html will not be available" >&2
  : > "$page"
  echo "$1" > "$reason"
  exit 0
}

command -v npm >/dev/null || give_up "npm was not found at build time"
command -v node >/dev/null || give_up "node was not found at build time"
# Install again only when the lock file changed since the last install.
if ! cmp -s "$src/package-lock.json" "$stamp"; then
  cp "$src/package.json" "$src/package-lock.json" "$out/"
  (cd "$out" && npm ci --ignore-scripts --prefer-offline --no-audit --no-fund --loglevel=error) ||
    give_up "npm ci could not install the pinned packages (is the npm registry reachable?)"
  cp "$src/package-lock.json" "$stamp"
fi
node "$src/build.mjs" --modules "$out/node_modules" --out "$page" ||
  give_up "bundling the page's scripts with three.js failed"
rm -f "$reason"
