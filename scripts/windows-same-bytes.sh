#!/usr/bin/env bash
# End-to-end comparison of the Windows and the Linux program: the same
# delivered updates, applied by marovetin (Linux) and by marovetin.exe (under
# wine) to two copies of one installation, must leave byte-identical volume
# sets and loose files. The installation starts with a set of several pack
# volumes. Two rounds: the example update (bzip2 streams of inverted bytes),
# then a generated one of several hundred files, some replacing what the
# first round or the set stored, so that freed space is reused.
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

# The installation holds a set of several pack volumes beside the example's
# files, written by the Linux test program with a small volume size limit.
mkdir -p "$work/seed"
MAROVETIN_SEED_SET_DIR="$work/seed" "$linux/tests/e2e_tests" --gtest_also_run_disabled_tests \
  --gtest_filter='VolumeSetSeed.*' >"$work/seed.out" 2>&1 ||
  { echo "the volume set could not be written:"; tail -n 20 "$work/seed.out"; exit 1; }
for side in linux windows; do
  mkdir -p "$work/$side"
  cp -R "$here/examples/install/." "$work/$side/"
  cp "$work/seed/"*.pak "$work/$side/"
done

# Both programs run the round; they must end with the same exit status (a
# delivered file that is kept back, such as an empty pack file, makes it 1)
# and neither may end otherwise (a crash, a refusal of the arguments).
run_round() {
  local round=$1 args=("${@:2}") status
  local statuses=()
  for side in linux windows; do
    status=0
    (
      cd "$work/$side"
      if [ "$side" = linux ]; then
        exec "$linux/launcher/marovetin" "${args[@]}" >"$work/$side-$round.out" 2>&1
      else
        exec "$wine" "$windows/launcher/marovetin.exe" "${args[@]}" >"$work/$side-$round.out" 2>&1
      fi
    ) || status=$?
    if [ "$status" -gt 1 ]; then
      echo "round $round: the $side run ended with status $status:"
      tail -n 20 "$work/$side-$round.out"
      exit 1
    fi
    statuses+=("$status")
  done
  if [ "${statuses[0]}" != "${statuses[1]}" ]; then
    echo "round $round: Linux ended with ${statuses[0]}, Windows with ${statuses[1]}"
    grep -h '^marovetin: ' "$work/linux-$round.out" "$work/windows-$round.out" | head -n 20
    exit 1
  fi
}

cp -R "$here/examples/update" "$work/linux/update"
cp -R "$here/examples/update" "$work/windows/update"
run_round 1 -dc -de -df -sw update
generate "$work/linux/update" 7
generate "$work/windows/update" 7
run_round 2 -df -sw update

# The run's own output names its directory and differs there; everything it
# wrote into the installation must be the same bytes.
# The later volumes were really written to (a replaced file leaves its old
# copy's space free there), else the comparison would not cover them.
changed=0
for seeded in "$work/seed/"Data*.pak; do
  cmp -s "$seeded" "$work/linux/$(basename "$seeded")" || changed=$((changed + 1))
done
if [ "$changed" -eq 0 ]; then
  echo "the update changed no later volume of the set: nothing of it was compared"
  exit 1
fi

if diff -r "$work/linux" "$work/windows" >"$work/diff" 2>&1; then
  files=$(find "$work/linux" -type f | wc -l)
  volumes=$(find "$work/linux" -maxdepth 1 -iname '*.pak' | wc -l)
  echo "same bytes: $files files, $volumes pack volumes identical after two rounds"
else
  echo "the Windows and the Linux program wrote different bytes:"
  head -n 40 "$work/diff"
  exit 1
fi
