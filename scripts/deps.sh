#!/usr/bin/env bash
# Installs the Debian packages the build needs, when they are missing
# (chromium: the headless browser of the report page's test; the page's npm
# packages come with the machine's node and npm, at build time).
# Usage: scripts/deps.sh [--windows] [extra package ...]
#   --windows  also the Windows cross toolchain (mingw-w64, posix threads)
#              and wine to run its programs
set -euo pipefail
packages=(cmake g++ make clang libclang-rt-14-dev libgtest-dev libgmock-dev libbenchmark-dev
          nlohmann-json3-dev libcli11-dev libcairo2-dev libembree-dev
          fonts-dejavu-core poppler-utils valgrind python3 chromium)
for arg in "$@"; do
  case "$arg" in
    --windows) packages+=(g++-mingw-w64-x86-64-posix googletest wine wine64) ;;
    *) packages+=("$arg") ;;
  esac
done
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}" >&2
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
