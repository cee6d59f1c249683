#!/usr/bin/env bash
# Builds the update and pack suites and the updater with ThreadSanitizer and
# runs them: the unit suites whole, and the end-to-end update runs, whose
# updater decodes ahead on worker threads. Usage: scripts/tsan.sh [build-dir]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:-build-tsan}
case "$dir" in /*) ;; *) dir="$here/$dir" ;; esac  # relative to the checkout
"$here/scripts/setup.sh"
generator=()
if command -v ninja >/dev/null && [ ! -f "$dir/CMakeCache.txt" ]; then generator=(-G Ninja); fi
launcher=()
if command -v ccache >/dev/null; then launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache); fi
cmake -S "$here" -B "$dir" "${generator[@]}" "${launcher[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DMAROVETIN_TSAN=ON -DMAROVETIN_WERROR=ON >/dev/null
cmake --build "$dir" -j "$(nproc)" --target update_tests pkfs_tests e2e_tests marovetin
# A report fails the run; the end-to-end tests see it as unexpected output.
export TSAN_OPTIONS="halt_on_error=1 exitcode=66 ${TSAN_OPTIONS:-}"
# Several workers even on a one-core machine, so that the threads meet.
export MAROVETIN_JOBS=4
"$dir/tests/update_tests"
"$dir/tests/pkfs_tests"
"$dir/tests/e2e_tests" --gtest_filter='Update*'
