#!/usr/bin/env bash
# Runs the updater on the example installation and shows what it did.
#
# The installation (examples/install) is copied to a fresh directory in the
# build folder, with the delivered update (examples/update) placed in it as
# "update"; the checkout itself is never changed. Builds first when needed.
# BUILD_DIR (default: build) picks the build folder.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build_name=${BUILD_DIR:-build}
build="$build_name"
case "$build" in /*) ;; *) build="$root/$build" ;; esac  # relative to the checkout
marovetin="$build/launcher/marovetin"
pkfs="$build/tools/pkfs/pkfs"

if [[ ! -x "$marovetin" || ! -x "$pkfs" ]]; then
  "$root/scripts/build.sh" "$build_name" >/dev/null
fi

run="$build/example-run"
rm -rf "$run"
mkdir -p "$run"
cp -R "$root/examples/install/." "$run/"
cp -R "$root/examples/update" "$run/update"
cd "$run"

echo "== Running in $run"
echo "\$ marovetin -dc -de -df -sw update -log update.log"
status=0
"$marovetin" -dc -de -df -sw update -log update.log || status=$?
echo "== Exit status: $status"

echo
echo "== Stored in the pack (pkfs ls -l DATA.pak)"
"$pkfs" ls -l DATA.pak
echo
echo "== The volumes (pkfs info DATA.pak)"
"$pkfs" info DATA.pak
echo
echo "== script/quest.txt read back through the pack file system (pkfs cat)"
"$pkfs" cat DATA.pak script/quest.txt
echo
echo "== pkfs verify DATA.pak"
"$pkfs" verify DATA.pak

echo
echo "== Loose files written into the installation"
while IFS= read -r file; do
  file=${file#./}
  case "$file" in DATA.pak | Data*.pak | update.log) continue ;; esac
  original="$root/examples/install/$file"
  if [[ ! -e "$original" ]]; then
    echo "  new      $file"
  elif ! cmp -s "$file" "$original"; then
    echo "  replaced $file"
  fi
done < <(find . -path ./update -prune -o -type f -print | LC_ALL=C sort)

echo
if [[ -e update ]]; then
  echo "== Left in update/ (kept back)"
  find update -type f | LC_ALL=C sort | sed 's/^/  /'
else
  echo "== update/ was emptied and removed (-df)"
fi

echo
echo "== update.log"
cat update.log
exit "$status"
