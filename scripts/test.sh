#!/usr/bin/env bash
# Sets up, builds and runs the whole test suite. Extra arguments go to cmake.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
dir=${BUILD_DIR:-build}
# The desktop window's test shows it on a virtual screen (Xvfb) and looks at
# it with the X tools; GTK itself is loaded by the program at run time.
"$here/scripts/setup.sh" xvfb xdotool x11-apps x11-utils libgtk-3-0
"$here/scripts/build.sh" "$dir" "$@"
case "$dir" in /*) ;; *) dir="$here/$dir" ;; esac  # relative to the checkout
cd "$dir"
ctest --output-on-failure -j "$(nproc)"
