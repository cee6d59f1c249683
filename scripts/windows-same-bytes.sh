#!/usr/bin/env bash
# End-to-end comparison of the Windows and the Linux program: the same
# delivered updates, applied by marovetin (Linux) and by marovetin.exe (under
# wine) to two copies of one installation, must leave byte-identical volume
# sets and loose files. Two rounds: the example update (bzip2 streams of
# inverted bytes), then a generated one of several hundred files, some
# replacing what the first round stored, so that freed space is reused.
#   scripts/windows-same-bytes.sh [LINUX_BUILD] [WINDOWS_BUILD]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
linux=${1:-build}
windows=${2:-build-windows}
case "$linux" in /*) ;; *) linux="$here/$linux" ;; esac
case "$windows" in /*) ;; *) windows="$here/$windows" ;; esac
export WINEPREFIX=${WINEPREFIX:-$windows/wineprefix} WINEDEBUG=-all MAROVETIN_NO_WINDOW=1
wine=$(command -v wine64 || command -v /usr/lib/wine/wine64 || command -v wine)

work=$(mktemp -d "${TMPDIR:-/tmp}/marovetin-same-bytes.XXXXXX")
trap 'rm -rf "$work"' EXIT

# A deterministic update: nested loose files and pack files of many sizes,
# names in mixed case, some of them delivered again in round two.
generate() {
  python3 - "$1" "$2" <<'PY'
import os, random, sys
root, seed = sys.argv[1], int(sys.argv[2])
rng = random.Random(seed)
for i in range(300):
    pack = i % 3 != 0
    depth = rng.randint(0, 3)
    parts = ["Dir%d" % rng.randint(0, 4) for _ in range(depth)]
    name = "File%03d.%s" % (rng.randint(0, 150), rng.choice(["txt", "xml", "bin", "DAT"]))
    path = os.path.join(root, "Pak" if pack else "", *parts, name)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    size = rng.choice([0, 1, 17, 1024, 4096, rng.randint(1, 200000)])
    with open(path, "wb") as f:
        f.write(bytes(rng.getrandbits(8) for _ in range(size)))
PY
}

for side in linux windows; do
  mkdir -p "$work/$side"
  cp -R "$here/examples/install/." "$work/$side/"
done

run_round() {
  local round=$1 args=("${@:2}")
  for side in linux windows; do
    (
      cd "$work/$side"
      if [ "$side" = linux ]; then
        "$linux/launcher/marovetin" "${args[@]}" >"$work/$side-$round.out" 2>&1
      else
        "$wine" "$windows/launcher/marovetin.exe" "${args[@]}" >"$work/$side-$round.out" 2>&1
      fi
    ) || { echo "round $round: $side run failed:"; cat "$work/$side-$round.out"; exit 1; }
  done
}

cp -R "$here/examples/update" "$work/linux/update"
cp -R "$here/examples/update" "$work/windows/update"
run_round 1 -dc -de -df -sw update
generate "$work/linux/update" 7
generate "$work/windows/update" 7
run_round 2 -df -sw update

# The run's own output names its directory and differs there; everything it
# wrote into the installation must be the same bytes.
if diff -r "$work/linux" "$work/windows" >"$work/diff" 2>&1; then
  files=$(find "$work/linux" -type f | wc -l)
  volumes=$(find "$work/linux" -maxdepth 1 -iname '*.pak' | wc -l)
  echo "same bytes: $files files, $volumes pack volumes identical after two rounds"
else
  echo "the Windows and the Linux program wrote different bytes:"
  head -n 40 "$work/diff"
  exit 1
fi
