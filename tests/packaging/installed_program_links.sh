#!/usr/bin/env bash
# Installs the build into a scratch prefix and checks the installed program's
# links: it names no GTK library (nor GDK, GLib or GObject), so it starts on a
# machine without them, and it still carries the GTK library's name, which it
# loads at run time for the progress window. It runs from the install tree.
# And no test machinery ships: no installed program or header holds the
# fault plan (MAROVETIN_FAULT_PLAN) or the power-loss simulator.
# Usage: installed_program_links.sh BUILD_DIR
set -euo pipefail
build=$1
scratch=$(mktemp -d "${TMPDIR:-/tmp}/marovetin-links-XXXXXX")
trap 'rm -rf "$scratch"' EXIT
cmake --install "$build" --prefix "$scratch/prefix" >/dev/null
program=$scratch/prefix/bin/marovetin
status=0
links=$(ldd "$program")
if grep -Ei 'gtk|gdk|glib|gobject|gio-' <<<"$links"; then
  echo "the installed marovetin links GTK or its libraries" >&2
  status=1
fi
grep -qaF 'libgtk-3.so.0' "$program" || { echo "marovetin does not name libgtk-3.so.0" >&2; status=1; }
"$program" --version | grep -q '^marovetin ' || { echo "the installed marovetin does not run" >&2; status=1; }
for installed in "$scratch/prefix/bin/"*; do
  if grep -qaE 'MAROVETIN_FAULT_PLAN|PowerLossSimulator|InstallFaultPlan' "$installed"; then
    echo "$installed holds test machinery" >&2
    status=1
  fi
done
if grep -rlE 'MAROVETIN_FAULT_PLAN|PowerLossSimulator' "$scratch/prefix/include"; then
  echo "an installed header declares test machinery" >&2
  status=1
fi
exit $status
