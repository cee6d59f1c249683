#!/usr/bin/env bash
# Cross-builds the Windows programs (scripts/build-windows.sh) and runs their
# test programs under wine, in a private wine prefix inside the build folder.
# With a Linux build folder as the second argument (default: build, when it
# holds marovetin) the two programs are also compared byte for byte.
#   scripts/test-windows.sh [WINDOWS_BUILD] [LINUX_BUILD]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:-build-windows}
linux=${2:-build}
case "$dir" in /*) ;; *) dir="$here/$dir" ;; esac
case "$linux" in /*) ;; *) linux="$here/$linux" ;; esac
# Warnings fail the build, as in the Linux builds of CI.
"$here/scripts/build-windows.sh" "$dir" -DMAROVETIN_WERROR=ON

export WINEPREFIX="$dir/wineprefix" WINEDEBUG=-all
# Leave no wine server behind, however this ends.
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  wineboot -i >/dev/null 2>&1 || true
fi
wineserver -w

(cd "$dir" && ctest --output-on-failure -j 2)
if [ -x "$linux/launcher/marovetin" ]; then
  "$here/scripts/windows-same-bytes.sh" "$linux" "$dir"
fi
