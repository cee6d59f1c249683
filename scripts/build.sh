#!/usr/bin/env bash
# Configures and builds into a build folder (default: build). Extra arguments
# go to cmake, e.g. scripts/build.sh build-asan -DMAROVETIN_SANITIZE=ON
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:-build}
shift || true
case "$dir" in /*) ;; *) dir="$here/$dir" ;; esac  # relative to the checkout
generator=()
# Ninja when it is there and the folder is new (a folder keeps its generator).
if command -v ninja >/dev/null && [ ! -f "$dir/CMakeCache.txt" ]; then generator=(-G Ninja); fi
launcher=()
if command -v ccache >/dev/null; then launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache); fi
cmake -S "$here" -B "$dir" "${generator[@]}" "${launcher[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
cmake --build "$dir" -j "$(nproc)"
