#!/usr/bin/env bash
# Shows marovetin.exe's progress window on a virtual screen (Xvfb) under wine
# and saves a picture of it: the manual check that the window appears, with
# its picture kept in docs/.
#   scripts/windows-screenshot.sh [WINDOWS_BUILD] [OUT.png]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:-build-windows}
out=${2:-$here/docs/windows-progress-window.png}
case "$dir" in /*) ;; *) dir="$here/$dir" ;; esac
export WINEPREFIX=${WINEPREFIX:-$dir/wineprefix} WINEDEBUG=-all
unset MAROVETIN_NO_WINDOW
wine=$(command -v wine64 || command -v /usr/lib/wine/wine64 || command -v wine)
display=:$((90 + RANDOM % 9))

work=$(mktemp -d "${TMPDIR:-/tmp}/marovetin-screenshot.XXXXXX")
Xvfb "$display" -screen 0 800x500x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
run=""
cleanup() {
  [ -n "$run" ] && kill "$run" 2>/dev/null || true
  kill "$xvfb" 2>/dev/null || true
  wineserver -k >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
export DISPLAY=$display

# Enough loose files to keep the window up for a while.
mkdir -p "$work/install/update"
for i in $(seq 1 3000); do printf 'file %d\n' "$i" >"$work/install/update/f$i.txt"; done
(cd "$work/install" && exec "$wine" "$dir/launcher/marovetin.exe" -sw update >/dev/null 2>&1) &
run=$!

# Wait for the window, then for the bar to move on, and take the picture.
for _ in $(seq 1 120); do
  sleep 0.5
  xwd -root -silent -display "$display" >"$work/shot.xwd"
  if python3 "$here/scripts/xwd_to_png.py" "$work/shot.xwd" "$work/shot.png"; then
    sleep 1.5
    xwd -root -silent -display "$display" >"$work/shot.xwd"
    python3 "$here/scripts/xwd_to_png.py" "$work/shot.xwd" "$out"
    echo "saved $out"
    exit 0
  fi
  kill -0 "$run" 2>/dev/null || break
done
echo "windows-screenshot.sh: no window appeared" >&2
exit 1
