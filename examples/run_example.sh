#!/usr/bin/env bash
# Runs the updater on the example installation and shows what it did.
#
# The installation (examples/install) is copied to a fresh directory in the
# build folder, with the delivered update (examples/update) placed in it as
# "update"; the checkout itself is never changed. Then shows how that update
# could have been made with marovetin-mkupdate from the installation before
# (examples/install) and after (examples/new), and applies the update made.
# Builds first when needed. BUILD_DIR (default: build) picks the build folder.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build_name=${BUILD_DIR:-build}
build="$build_name"
case "$build" in /*) ;; *) build="$root/$build" ;; esac  # relative to the checkout
marovetin="$build/launcher/marovetin"
pkfs="$build/tools/pkfs/pkfs"
mkupdate="$build/tools/mkupdate/marovetin-mkupdate"

if [[ ! -x "$marovetin" || ! -x "$pkfs" || ! -x "$mkupdate" ]]; then
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

# The same update, made from the installation before and after it.
made="$build/example-made"
again="$build/example-made-run"
rm -rf "$made" "$again"
echo
echo "== How the update could have been made"
echo "\$ marovetin-mkupdate -dc -de examples/install examples/new example-made"
made_status=0
"$mkupdate" -dc -de "$root/examples/install" "$root/examples/new" "$made" || made_status=$?
echo "== Exit status: $made_status"
[[ $made_status == 0 ]] || status=$made_status
echo "== What it wrote, against the bundled update (pack payloads under their stored names)"
while IFS= read -r file; do
  file=${file#"$made"/}
  bundled=$(cd "$root/examples/update" && find . -type f | sed 's|^\./||' |
            awk -v f="$file" 'tolower($0) == tolower(f)')
  if [[ -n "$bundled" ]] && cmp -s "$made/$file" "$root/examples/update/$bundled"; then
    echo "  $file: the same bytes as examples/update/$bundled"
  else
    echo "  $file: differs from examples/update"
  fi
done < <(find "$made" -type f | LC_ALL=C sort)

echo
echo "== The update made, applied to another copy of examples/install"
mkdir -p "$again"
cp -R "$root/examples/install/." "$again/"
cp -R "$made" "$again/update"
(cd "$again" && "$marovetin" -q -dc -de -df -sw update) || status=$?
same=yes
while IFS= read -r file; do
  file=${file#./}
  cmp -s "$again/$file" "$root/examples/new/$file" || { echo "  differs: $file"; same=no; }
done < <(cd "$root/examples/new" && find . -type f ! -name DATA.pak)
for name in $("$pkfs" ls "$root/examples/new/DATA.pak"); do
  cmp -s <("$pkfs" cat "$again/DATA.pak" "$name") <("$pkfs" cat "$root/examples/new/DATA.pak" "$name") ||
    { echo "  differs: DATA.pak $name"; same=no; }
done
if [[ $same == yes ]]; then
  echo "  every loose file and pack entry of examples/new is there, byte for byte"
else
  status=1
fi
exit "$status"
