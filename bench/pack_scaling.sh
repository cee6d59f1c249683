#!/usr/bin/env bash
# How storing into the pack scales with the number of files it holds.
#
# Stores 10,000 delivered files of 1 KiB (marovetin -sw patch -df, all below
# "Pak", 100 to a directory) into packs that hold 10,000, 100,000 and 300,000
# files, and times each against its floor: "pkfs add" of the same files into
# a copy of the same pack, plus "rm -rf" of the sources. Reports, for each
# size:
#   - the time as a ratio to the floor (goal: at most 1.5x);
#   - bytes written per payload byte: write_bytes (what reached the storage
#     layer) and wchar (what the program handed to write calls, its output to
#     /dev/null included) from /proc/<pid>/io (goal: disk at most 2 at 300k);
# and, from "strace -f -c" of the store into the 10,000-file pack, the system
# calls per stored file (goal: at most 8), with the calls that make them up.
# Rounds are interleaved (RUNS of them, the median is shown), so a machine
# whose load changes meanwhile weighs on both sides alike.
#
# Usage: bench/pack_scaling.sh [build-dir]   (default: build; RUNS=1, SIZES="10 100 300")
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-build}
[[ "$build" = /* ]] || build="$root/$build"
marovetin="$build/launcher/marovetin"
pkfs="$build/tools/pkfs/pkfs"
runs=${RUNS:-1}
sizes=${SIZES:-"10 100 300"}
for program in "$marovetin" "$pkfs"; do
  [[ -x "$program" ]] || { echo "build first: $program is missing" >&2; exit 1; }
done
"$root/scripts/setup.sh" strace >/dev/null

work=$(mktemp -d "${TMPDIR:-/tmp}/marovetin-scaling-XXXXXX")
trap 'rm -rf "$work"' EXIT
export MAROVETIN_SHM_NAME="marovetin-scaling-$$"

echo "generating 10,000 files of 1 KiB and packs of $sizes thousand files in $work ..." >&2
PYTHONPATH="$root/bench" python3 - "$work" $sizes <<'PY'
import os, sys
from pack_volume import finish, record
work, sizes = sys.argv[1], [int(s) for s in sys.argv[2:]]
for i in range(10000):
    d = os.path.join(work, "new", "Pak", "d%04d" % (i // 100))
    if i % 100 == 0:
        os.makedirs(d)
    with open(os.path.join(d, "n%06d.bin" % i), "wb") as f:
        f.write(os.urandom(1024))

# Each pack as the updater leaves it: 1 KiB files, then the directory.
payload = os.urandom(1024)
for size in sizes:
    count = size * 1000
    records = []
    with open(os.path.join(work, "pack%dk.pak" % size), "wb") as pack:
        pack.write(b"\0" * 16)
        at = 16
        for i in range(count):
            pack.write(payload)
            name = ("OLD/D%04d/O%06d.BIN" % (i // 100, i)).encode()
            records.append(record(name, at, 1024, 1))
            at += 1024
        finish(pack, records, at)
PY

now() { date +%s.%N; }
calc() { awk "BEGIN { printf \"%.2f\", $1 }"; }
median() { sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

# prepare SIZE: a copy of the pack and of the delivered files in $work/run.
prepare() {
  rm -rf "$work/run"; mkdir -p "$work/run"
  cp "$work/pack$1k.pak" "$work/run/DATA.pak"
  cp -r "$work/new" "$work/run/patch"
  sync
}

# update SIZE: the updater's store. Prints "seconds write_bytes wchar".
update() {
  prepare "$1"
  local start end io
  start=$(now)
  io=$(cd "$work/run" && bash -c \
    '"$@" >/dev/null 2>&1; grep -E "^(write_bytes|wchar)" /proc/$$/io' _ "$marovetin" -sw patch -df)
  end=$(now)
  [[ ! -e "$work/run/patch" ]] || { echo "the update left files behind" >&2; exit 1; }
  echo "$(calc "$end - $start") $(awk '/^write_bytes/ {print $2}' <<<"$io") $(awk '/^wchar/ {print $2}' <<<"$io")"
}

# floor SIZE: pkfs add of the same files into the same pack, then rm -rf.
floor() {
  prepare "$1"
  local start end
  start=$(now)
  (cd "$work/run/patch/Pak" && "$pkfs" add ../../DATA.pak d* >/dev/null 2>&1)
  rm -rf "$work/run/patch"
  end=$(now)
  calc "$end - $start"
}

payload=$((10000 * 1024))
declare -A tu tf disk chars
for size in $sizes; do
  ups=(); floors=()
  for ((i = 0; i < runs; i++)); do
    read -r secs d c <<<"$(update "$size")"
    ups+=("$secs"); floors+=("$(floor "$size")")
  done
  tu[$size]=$(printf '%s\n' "${ups[@]}" | median)
  tf[$size]=$(printf '%s\n' "${floors[@]}" | median)
  disk[$size]=$d; chars[$size]=$c
done

echo "load average: $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) processors"
printf 'store 10,000 x 1 KiB with -df (median of %d interleaved runs)\n' "$runs"
printf '  %-16s %9s %12s %8s %10s %10s\n' "into a pack of" "marovetin" "pkfs add+rm" "ratio" "disk B/B" "write B/B"
for size in $sizes; do
  printf '  %-16s %8.2fs %11.2fs %7sx %10s %10s\n' "${size},000 files" "${tu[$size]}" "${tf[$size]}" \
    "$(calc "${tu[$size]} / ${tf[$size]}")" "$(calc "${disk[$size]} / $payload")" \
    "$(calc "${chars[$size]} / $payload")"
done
echo "  goals: ratio <= 1.5 at every size; disk <= 2 B/B at 300,000"

first=${sizes%% *}
prepare "$first"
(cd "$work/run" && strace -f -c -o "$work/strace.txt" "$marovetin" -sw patch -df >/dev/null 2>&1)
printf 'system calls per stored file (strace -f -c, 10,000 files into %s,000): %s (goal <= 8)\n' \
  "$first" "$(awk '$NF == "total" {printf "%.1f", $4 / 10000}' "$work/strace.txt")"
# The columns: % time, seconds, usecs/call, calls, [errors,] syscall.
awk '$1 ~ /^[0-9.]+$/ && $NF != "total" && $4 / 10000 >= 0.05 {
       printf "  %-16s %6.2f\n", $NF, $4 / 10000 }' "$work/strace.txt" | sort -k2 -g -r
