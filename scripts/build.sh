#!/usr/bin/env bash
# Configures and builds into a build folder (default: build). Extra arguments
# go to cmake, e.g. scripts/build.sh build-asan -DMAROVETIN_SANITIZE=ON
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:-build}
shift || true
case "$dir" in /*) ;; *) dir="$here/$dir" ;; esac  # relative to the checkout
cmake -S "$here" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
cmake --build "$dir" -j "$(nproc)"
