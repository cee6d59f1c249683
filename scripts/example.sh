#!/usr/bin/env bash
# Sets up, builds and runs the updater on the bundled example installation,
# then shows the pack it wrote with pkfs (ls, info, cat, verify).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/setup.sh"
"$here/scripts/build.sh" "${BUILD_DIR:-build}"
exec "$here/examples/run_example.sh"
