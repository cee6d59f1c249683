#!/usr/bin/env bash
# The GTK progress window and message dialog on a virtual screen (Xvfb):
#  1. an update of a few thousand files with standard error not a terminal
#     shows the window, titled "marovetin", while it runs (a picture of it is
#     taken); Escape in it (a close request) does not stop the update, the
#     window says so; the run ends with the installation byte for byte as a
#     run without a window leaves it, the same output, and no window left;
#  2. the version gate refusing under -v shows a message dialog over the
#     progress window (a picture of it is taken: its text is the refusal's,
#     and the same text is the box's line on standard error); the run waits
#     for it and ends once Enter presses OK;
#  3. under -q and under MAROVETIN_NO_WINDOW no window appears.
# Skips (exit 77) only when Xvfb or the X tools cannot be had or started.
#   gtk_window.sh MAROVETIN [PICTURE_DIR]
set -euo pipefail
# (A grep that ends a pipeline reads it whole, never -q: with pipefail, a
# writer cut off by an early exit would fail the pipeline.)
marovetin=$(realpath "$1")
pictures=${2:-}
here=$(cd "$(dirname "$0")" && pwd)
xwd_to_png=$here/../../scripts/xwd_to_png.py
skip() {
  echo "SKIPPED: $* (scripts/test.sh installs xvfb, xdotool, x11-apps, x11-utils, libgtk-3-0)"
  exit 77
}
fail() {
  echo "FAILED: $*" >&2
  [ -s "$work/xdotool.log" ] && tail -5 "$work/xdotool.log" >&2
  exit 1
}
for tool in Xvfb xdotool xwd xprop python3; do
  command -v "$tool" >/dev/null || skip "$tool is not installed"
done
/sbin/ldconfig -p 2>/dev/null | grep 'libgtk-3\.so\.0' >/dev/null || skip "GTK 3 (libgtk-3-0) is not installed"

work=$(mktemp -d "${TMPDIR:-/tmp}/marovetin-gtk.XXXXXX")
xvfb="" run=""
cleanup() {
  if [ -n "$run" ]; then kill -CONT "$run" 2>/dev/null || true; kill "$run" 2>/dev/null || true; fi
  # Reaped, so that its socket is gone before another server takes the number.
  if [ -n "$xvfb" ]; then kill "$xvfb" 2>/dev/null || true; wait "$xvfb" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

# A free display number: Xvfb picks it and writes it on descriptor 3.
Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb=$!
for _ in $(seq 1 100); do
  [ -s "$work/display" ] && break
  kill -0 "$xvfb" 2>/dev/null || skip "Xvfb did not start: $(tail -1 "$work/xvfb.log")"
  sleep 0.05
done
[ -s "$work/display" ] || skip "Xvfb named no display"
export DISPLAY=:$(head -1 "$work/display")
unset WAYLAND_DISPLAY MAROVETIN_NO_WINDOW
# No accessibility bus on a virtual screen: GTK would warn about it. A
# sanitized build keeps GTK's own allocations out of its leak report.
export NO_AT_BRIDGE=1 ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0
export MAROVETIN_SHM_NAME=marovetin-gtk-$$

# The visible windows titled "marovetin", one id a line.
windows() { xdotool search --onlyvisible --name '^marovetin$' 2>>"$work/xdotool.log" || true; }
# Waits until the run shows n windows; false when it ended first.
wait_for_windows() {
  local n=$1
  for _ in $(seq 1 600); do
    [ "$(windows | wc -l)" -ge "$n" ] && return 0
    kill -0 "$run" 2>/dev/null || return 1
    sleep 0.025
  done
  return 1
}
picture() {
  xwd -root -silent >"$work/shot.xwd"
  python3 "$xwd_to_png" "$work/shot.xwd" "$1" || fail "the screen is blank"
}
# The picture of a run held still: a window held the moment it appeared may
# not be drawn yet, so the run goes on for 50 ms at a time (at most 40 times)
# until the screen shows something.
picture_of_held_run() {
  for _ in $(seq 1 40); do
    xwd -root -silent >"$work/shot.xwd"
    python3 "$xwd_to_png" "$work/shot.xwd" "$1" 2>/dev/null && return 0
    kill -CONT "$run" 2>/dev/null || break
    sleep 0.05
    kill -STOP "$run" 2>/dev/null || break
  done
  fail "the screen is blank"
}
# True when the run's debug output says GTK could not reach the display: on a
# loaded virtual screen that happens now and then, and the run is tried again
# (at most twice) rather than taken for a fault of the window.
gtk_missed_display() {
  grep -q "GTK 3 cannot be loaded or opens no display" "$1" && xprop -root >/dev/null 2>&1
}
# Stops a run that is still going and forgets it.
drop_run() {
  if [ -n "$run" ]; then kill -CONT "$run" 2>/dev/null || true; kill "$run" 2>/dev/null || true; fi
  wait "$run" 2>/dev/null || true
  run=""
}
mask_clock() { sed -E 's#[0-9]+/[0-9]+/[0-9]+ [0-9]+:[0-9]+:[0-9]+ ##; s/Cost Time is [0-9]+/Cost Time is N/'; }

# 1. An update of 3,000 pack files and 3,000 loose files, run without a
# window and then with one, both in one place (the output names it), with
# the debugger channel on (the program says there what the window shows).
mkdir -p "$work/run/update/Pak/maps" "$work/run/update/data"
for i in $(seq 1 3000); do
  printf 'pack file %d\n' "$i" >"$work/run/update/Pak/maps/m$i.txt"
  printf 'loose file %d\n' "$i" >"$work/run/update/data/f$i.dat"
done
cp -a "$work/run" "$work/base"
export MAROVETIN_DEBUG=1
(cd "$work/run" && MAROVETIN_NO_WINDOW=1 "$marovetin" -sw update -df >"$work/plain.out" 2>"$work/plain.err") ||
  fail "the run without a window failed"
mv "$work/run" "$work/plain"
for attempt in 1 2 3; do
  rm -rf "$work/run"
  cp -a "$work/base" "$work/run"
  (cd "$work/run" && exec "$marovetin" -sw update -df >"$work/windowed.out" 2>"$work/windowed.err") &
  run=$!
  wait_for_windows 1 && break
  drop_run
  [ "$attempt" -lt 3 ] && gtk_missed_display "$work/windowed.err" && continue
  fail "no window titled marovetin appeared while the update ran: $(grep -v "^Write" "$work/windowed.err" | head -5)"
done
# Held still at once for the picture and the checks: on an idle machine the
# whole update may take less than a tenth of a second.
kill -STOP "$run" 2>/dev/null || fail "the update ended before its window could be looked at"
window=$(windows | head -1)
[ -n "$window" ] || fail "the window went away while the update ran"
xprop -id "$window" WM_NAME | grep -F '"marovetin"' >/dev/null || fail "the window's title is not marovetin"
picture_of_held_run "$work/progress.png"
# Escape in the window asks it to close, as its close button does: the
# update goes on, and the window says why.
xdotool windowfocus --sync "$window" key --clearmodifiers Escape
kill -CONT "$run"
status=0
wait "$run" || status=$?
run=""
unset MAROVETIN_DEBUG
cannot_stop="finishing the update; it cannot be stopped safely midway"
[ "$status" -eq 0 ] || fail "the windowed run exited $status: $(grep -v '^Write' "$work/windowed.err")"
[ -z "$(windows)" ] || fail "a window is left after the run"
diff -r "$work/plain" "$work/run" >/dev/null || fail "the installations differ"
cmp -s <(mask_clock <"$work/plain.out") <(mask_clock <"$work/windowed.out") ||
  fail "standard output differs from the run without a window"
grep -qxF "progress window: $cannot_stop" "$work/windowed.err" ||
  fail "the window did not say that the update cannot be stopped"
[ "$(grep -cxF "marovetin: $cannot_stop" "$work/windowed.err")" -eq 1 ] ||
  fail "the close request's message box line is not on standard error once"
cmp -s "$work/plain.err" <(grep -v -e '^progress window: ' -e "^marovetin: $cannot_stop\$" "$work/windowed.err") ||
  fail "standard error differs from the run without a window"

# 2. The version gate refuses: the message dialog over the progress window.
mkdir -p "$work/gate/UpdateSetting"
printf '\x05\x00\x00\x00\x00\x00\x00\x00' >"$work/gate/Patch.dat"
printf '\x01\x00\x00\x00' >"$work/gate/UpdateSetting/UpdateIndex.dat"
refusal="The client is too old, please download an appropriate file to update."
for attempt in 1 2 3; do
  (cd "$work/gate" && MAROVETIN_DEBUG=1 exec "$marovetin" -v >"$work/gate.out" 2>"$work/gate.err") &
  run=$!
  wait_for_windows 2 && break
  drop_run
  [ "$attempt" -lt 3 ] && gtk_missed_display "$work/gate.err" && continue
  fail "no message dialog appeared for the refusal: $(cat "$work/gate.err")"
done
dialog=""
for id in $(windows); do
  xprop -id "$id" WM_TRANSIENT_FOR | grep 'window id' >/dev/null && dialog=$id
done
[ -n "$dialog" ] || fail "no window is a dialog over the progress window"
xprop -id "$dialog" _NET_WM_WINDOW_TYPE | grep _NET_WM_WINDOW_TYPE_DIALOG >/dev/null ||
  fail "the message box is not a dialog"
picture "$work/dialog.png"
sleep 0.2
kill -0 "$run" 2>/dev/null || fail "the run did not wait for the dialog"
xdotool windowfocus --sync "$dialog" key --clearmodifiers Return
status=0
for _ in $(seq 1 200); do
  kill -0 "$run" 2>/dev/null || break
  sleep 0.05
done
kill -0 "$run" 2>/dev/null && fail "the run still waits after Enter in the dialog"
wait "$run" || status=$?
run=""
[ "$status" -eq 2 ] || fail "the refused run exited $status, not 2"
grep -qxF "marovetin: $refusal" "$work/gate.err" || fail "the refusal's line is not on standard error"
[ -z "$(windows)" ] || fail "a window is left after the refusal"

# 3. No window under -q, nor under MAROVETIN_NO_WINDOW: with the debugger
# channel on, the program says when it shows one.
mkdir -p "$work/small/update"
printf 'loose\n' >"$work/small/update/a.dat"
face() { (cd "$work/small" && env MAROVETIN_DEBUG=1 "$@" "$marovetin" -sw update "${args[@]}" 2>&1 >/dev/null); }
args=(-q)
! face | grep 'progress window' >/dev/null || fail "a window was shown under -q"
args=()
! face MAROVETIN_NO_WINDOW=1 | grep 'progress window' >/dev/null || fail "a window was shown under MAROVETIN_NO_WINDOW"
face | grep -x 'progress window: GTK 3' >/dev/null || fail "the debugger channel does not name the window"

if [ -n "$pictures" ]; then
  cp "$work/progress.png" "$pictures/linux-progress-window.png"
  cp "$work/dialog.png" "$pictures/linux-message-box.png"
  echo "saved $pictures/linux-progress-window.png and $pictures/linux-message-box.png"
fi
echo "GTK window checks passed on display $DISPLAY"
