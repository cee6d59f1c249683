#!/usr/bin/env bash
# Installs the build into a scratch prefix and checks the installed program's
# links: it names no GTK library (nor GDK, GLib or GObject), so it starts on a
# machine without them, and it still carries the GTK library's name, which it
# loads at run time for the progress window. It runs from the install tree.
# And no test machinery ships: no installed program, library or header holds
# the fault plan (MAROVETIN_FAULT_PLAN), a fault or power-loss Env, or a hook
# below the file calls, by name (nm -C) or by text.
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
machinery='MAROVETIN_FAULT_PLAN|FaultPlan|FaultEnv|PowerLoss|FaultHook|SyncHook|FaultSource|FileEventObserver|WriteDecision'
for installed in "$scratch/prefix/bin/"* $(find "$scratch/prefix" -name '*.a' -o -name '*.so*'); do
  if nm -C "$installed" 2>/dev/null | grep -E "$machinery" >&2; then
    echo "$installed defines or uses test machinery (nm -C)" >&2
    status=1
  fi
  if grep -qaE "$machinery" "$installed"; then
    echo "$installed holds test machinery" >&2
    status=1
  fi
done
if grep -rlE "$machinery" "$scratch/prefix/include"; then
  echo "an installed header declares test machinery" >&2
  status=1
fi
exit $status
