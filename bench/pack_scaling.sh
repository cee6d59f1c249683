#!/usr/bin/env bash
# How storing into the pack scales with the number of files it holds.
#
# Stores 10,000 delivered files of 1 KiB (marovetin -sw patch -df, all below
# "Pak") into a pack that holds 10,000 and one that holds 100,000 files (and,
# with SCALING_300K=1, one that holds 300,000), and fills an empty pack with
# 100,000 files. Each is timed against its floor,
# "cp -r" of the same files plus "rm -rf" of the copy, and reports:
#   - the time as a ratio to the floor;
#   - bytes written per payload byte: write_bytes (what reached the storage
#     layer) and wchar (what the program handed to write calls, its output to
#     /dev/null included) from /proc/<pid>/io, summed over the run;
#   - the growth from the 10k to the 100k pack;
#   - the number of sync calls of a 200-file update (strace, when present).
# Every store is measured twice: as it runs, and with its sync calls made
# no-ops through LD_PRELOAD (no_sync_preload.c, built here) to show the
# syncs' share. Goals: into 100k <= 0.5x the floor and <= 1.5 bytes written
# per payload byte (batches commit by bytes and time, so the directory is
# rewritten a few times, not once per thousand files), growth <= 1.5x, a 100k
# fill <= 3x its floor, <= 20 syncs.
#
# Usage: bench/pack_scaling.sh [build-dir]   (default: build; RUNS=1)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-build}
[[ "$build" = /* ]] || build="$root/$build"
marovetin="$build/launcher/marovetin"
runs=${RUNS:-1}
[[ -x "$marovetin" ]] || { echo "build first: $marovetin is missing" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/marovetin-scaling-XXXXXX")
trap 'rm -rf "$work"' EXIT
export MAROVETIN_SHM_NAME="marovetin-scaling-$$"
cc -O2 -shared -fPIC -o "$work/no_sync.so" "$root/bench/no_sync_preload.c"

echo "generating 10,000 + 100,000 + 10,000 files of 1 KiB in $work ..." >&2
printf 'load before: %s\n' "$(cut -d' ' -f1-3 /proc/loadavg)"
python3 - "$work" <<'PY'
import os, sys
work = sys.argv[1]
# 100 files a directory: removing a source's emptied directories looks its
# directory up once per file, which grows with the directory's size.
def tree(name, prefix, count):
    for i in range(count):
        d = os.path.join(work, name, "Pak", "d%04d" % (i // 100))
        if i % 100 == 0:
            os.makedirs(d, exist_ok=True)
        with open(os.path.join(d, "%s%06d.bin" % (prefix, i)), "wb") as f:
            f.write(os.urandom(1024))
tree("new10k", "n", 10000)
tree("old100k", "o", 100000)
tree("old10k", "p", 10000)
if os.environ.get("SCALING_300K") == "1":
    tree("old300k", "q", 300000)
PY

now() { date +%s.%N; }
calc() { awk "BEGIN { printf \"%.2f\", $1 }"; }
median() { sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

# floor TREE: seconds for cp -r of TREE and rm -rf of the copy.
floor() {
  rm -rf "$work/copy"; sync
  local start end; start=$(now)
  cp -r "$work/$1" "$work/copy" && rm -rf "$work/copy"
  end=$(now); calc "$end - $start"
}

# store TREE PACK [preload]: stores TREE into a copy of the pack file PACK
# (none: an empty pack). Prints "seconds write_bytes wchar"; the pack it
# leaves is in $work/run/DATA.pak.
store() {
  local tree=$1 pack=$2 preload=${3:-}
  rm -rf "$work/run"; mkdir -p "$work/run"
  [[ "$pack" = none ]] || cp "$pack" "$work/run/DATA.pak"
  cp -r "$work/$tree" "$work/run/patch"
  sync
  local start end io
  start=$(now)
  io=$(cd "$work/run" && LD_PRELOAD="$preload" bash -c \
    '"$@" >/dev/null 2>&1; grep -E "^(write_bytes|wchar)" /proc/$$/io' _ "$marovetin" -sw patch -df)
  end=$(now)
  [[ ! -e "$work/run/patch" ]] || { echo "the update left files behind" >&2; exit 1; }
  echo "$(calc "$end - $start") $(awk '/^write_bytes/ {print $2}' <<<"$io") $(awk '/^wchar/ {print $2}' <<<"$io")"
}

echo "filling packs of 10,000 and 100,000 files ..." >&2
read -r fill100 fill100_disk fill100_chars <<<"$(store old100k none)"
cp "$work/run/DATA.pak" "$work/pack100k.pak"
read -r fill100_nosync _ _ <<<"$(store old100k none "$work/no_sync.so")"
fill100_floor=$(floor old100k)
store old10k none >/dev/null
cp "$work/run/DATA.pak" "$work/pack10k.pak"
packs="10k 100k"
if [[ "${SCALING_300K:-}" = 1 ]]; then
  store old300k none >/dev/null
  cp "$work/run/DATA.pak" "$work/pack300k.pak"
  packs="$packs 300k"
fi

payload=$((10000 * 1024))
declare -A t d c
for pack in $packs; do
  for mode in sync nosync; do
    preload=""; [[ $mode = nosync ]] && preload="$work/no_sync.so"
    times=(); for ((i = 0; i < runs; i++)); do
      read -r secs disk chars <<<"$(store new10k "$work/pack$pack.pak" "$preload")"
      times+=("$secs")
    done
    t[$pack$mode]=$(printf '%s\n' "${times[@]}" | median)
    d[$pack$mode]=$disk; c[$pack$mode]=$chars
  done
done
floor10=$(printf '%s\n' "$(floor new10k)" "$(floor new10k)" "$(floor new10k)" | median)

printf 'store 10,000 x 1 KiB (median of %d runs; floor: cp -r + rm -rf = %.2f s)\n' "$runs" "$floor10"
printf '  %-18s %8s %8s %10s %8s\n' "into a pack of" "time" "x floor" "disk B/B" "write B/B"
for pack in $packs; do
  for mode in sync nosync; do
    printf '  %-18s %7.2fs %8s %10s %8s\n' "$pack ($mode)" "${t[$pack$mode]}" \
      "$(calc "${t[$pack$mode]} / $floor10")" "$(calc "${d[$pack$mode]} / $payload")" \
      "$(calc "${c[$pack$mode]} / $payload")"
  done
done
printf '  growth 10k -> 100k: %s x (with syncs), %s x (without)\n' \
  "$(calc "${t[100ksync]} / ${t[10ksync]}")" "$(calc "${t[100knosync]} / ${t[10knosync]}")"
printf 'fill an empty pack with 100,000 files: %.2f s = %s x its floor (%.2f s); without syncs %.2f s; disk %s B/B, write %s B/B\n' \
  "$fill100" "$(calc "$fill100 / $fill100_floor")" "$fill100_floor" "$fill100_nosync" \
  "$(calc "$fill100_disk / (100000 * 1024)")" "$(calc "$fill100_chars / (100000 * 1024)")"

if command -v strace >/dev/null; then
  rm -rf "$work/run"; mkdir -p "$work/run/patch/Pak/a" "$work/run/patch/b"
  for i in $(seq 1 100); do
    head -c 1024 /dev/urandom >"$work/run/patch/Pak/a/$i.bin"
    head -c 1024 /dev/urandom >"$work/run/patch/b/$i.bin"
  done
  mkdir -p "$work/run/b"
  (cd "$work/run" && strace -f -c -o "$work/strace.txt" -e trace=fsync,fdatasync,syncfs,sync \
    "$marovetin" -sw patch -df >/dev/null 2>&1)
  printf 'sync calls of a 200-file update (100 pack, 100 loose, -df): %s\n' \
    "$(awk '$NF ~ /^(fsync|fdatasync|syncfs|sync)$/ {n += $4} END {print n + 0}' "$work/strace.txt")"
fi
