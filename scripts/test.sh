#!/usr/bin/env bash
# Sets up, builds and runs the whole test suite. Extra arguments go to cmake.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
dir=${BUILD_DIR:-build}
"$here/scripts/setup.sh"
"$here/scripts/build.sh" "$dir" "$@"
case "$dir" in /*) ;; *) dir="$here/$dir" ;; esac  # relative to the checkout
cd "$dir"
ctest --output-on-failure -j "$(nproc)"
