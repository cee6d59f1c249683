#!/usr/bin/env bash
# End-to-end benchmark of the pkfs tool on a set of 100,000 entries.
#
# Builds a tree of 100,000 files (100 directories of 1,000; sizes 64 B to
# 2 KiB, about 100 MiB in all; half of them ".txt", stored through the
# filter) and the set that holds it, with the free place of a replaced copy
# before every ".bin" entry. Then times, median of RUNS runs:
#   extract  pkfs extract SET -C out       (read, decode, write every entry)
#   cp -r    a copy of the same tree       (the floor: just moving the files)
#   compact  pkfs compact SET              (a third of the set is free space)
#   cat      pkfs cat SET NAME for 100 random entries, one process each
#   unzip    unzip -p of the same 100 entries from a zip of the tree (stored,
#            not compressed), one process each, in rounds interleaved with cat
# and reports the ratios. Goals: extract at most 1.5x cp -r, cat at most 2x
# unzip. With a benchmark build (-DMAROVETIN_BENCHMARKS=ON) it also shows
# pack_bench's load of a 100,000-entry directory (goal: at most 0.05 s).
#
# Usage: bench/pkfs_bench.sh [build-dir]   (default: build; RUNS=3, FILES=100000;
#        READS_ONLY=1 leaves out extract, cp -r and compact)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-build}
[[ "$build" = /* ]] || build="$root/$build"
pkfs="$build/tools/pkfs/pkfs"
runs=${RUNS:-3}
files=${FILES:-100000}
[[ -x "$pkfs" ]] || { echo "build first: $pkfs is missing" >&2; exit 1; }
"$root/scripts/setup.sh" zip unzip >/dev/null

work=$(mktemp -d "${TMPDIR:-/tmp}/pkfs-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT

echo "generating $files files and their set in $work ..." >&2
mkdir -p "$work/set"
set_path="$work/set/DATA.pak"
# The set is written here directly in the volume format, as the updater would
# leave it after every ".bin" file was replaced once: each ".bin" entry has
# the free place of its old copy before it. (Storing 100,000 files one add at
# a time rewrites the whole directory on every add.)
PYTHONPATH="$root/bench" python3 - "$work/tree" "$set_path" "$files" <<'PY'
import os, random, sys
from pack_volume import encode, finish, record
root, set_path, count = sys.argv[1], sys.argv[2], int(sys.argv[3])
rng = random.Random(7)

records, total = [], 0
with open(set_path, "wb") as pack:
    pack.write(b"\0" * 16)
    at = 16
    for i in range(count):
        d = "d%03d" % (i % 100)
        if i < 100:
            os.makedirs(os.path.join(root, d), exist_ok=True)
        size = rng.randint(64, 2048)
        ext = "txt" if i % 2 == 0 else "bin"
        relative = "%s/f%06d.%s" % (d, i, ext)
        data = rng.randbytes(size)
        with open(os.path.join(root, relative), "wb") as f:
            f.write(data)
        total += size
        if ext == "bin":
            pack.write(b"\xEE" * size)  # the replaced copy's place, now free
            at += size
        stored, flags = (encode(data), 0x20000001) if ext == "txt" else (data, 1)
        pack.write(stored)
        name = relative.upper().encode()
        records.append(record(name, at, size, flags))
        at += size
    finish(pack, records, at)
print("tree: %d files, %.1f MiB; set: %.1f MiB" % (count, total / 1048576.0,
      os.path.getsize(set_path) / 1048576.0))
PY
"$pkfs" verify "$set_path" >/dev/null || { "$pkfs" verify "$set_path" | head; exit 1; }

# Median wall-clock seconds of running "$@" RUNS times; $reset runs before each.
median() {
  local times=()
  for ((i = 0; i < runs; i++)); do
    eval "$reset"
    sync
    local t0 t1
    t0=$(date +%s.%N)
    "$@" >/dev/null
    t1=$(date +%s.%N)
    times+=("$(echo "$t1 - $t0" | bc)")
  done
  printf '%s\n' "${times[@]}" | sort -n | sed -n "$(((runs + 1) / 2))p"
}

if [[ -z "${READS_ONLY:-}" ]]; then
reset='rm -rf "$work/out"'
t_extract=$(median "$pkfs" extract "$set_path" -C "$work/out")
# Check the round trip once (names are stored upper-cased).
[[ $(find "$work/out" -type f | wc -l) -eq $files ]] || { echo "extract lost files" >&2; exit 1; }
for f in d000/f000000.txt d001/f000001.bin d099/f000099.bin; do
  cmp -s "$work/tree/$f" "$work/out/${f^^}" || { echo "extract changed $f" >&2; exit 1; }
done
reset='rm -rf "$work/copy"'
t_copy=$(median cp -r "$work/tree" "$work/copy")

cp "$set_path" "$work/grown.pak"
grown=$(stat -c %s "$set_path")
reset='cp "$work/grown.pak" "$set_path"'
t_compact=$(median "$pkfs" compact "$set_path")
compacted=$(stat -c %s "$set_path")
"$pkfs" verify "$set_path" >/dev/null

printf '%-10s %8.3f s\n' "extract" "$t_extract" "cp -r" "$t_copy" "compact" "$t_compact"
echo "set: $grown bytes before compact, $compacted after"
echo "ratios to cp -r: extract $(echo "scale=2; $t_extract / $t_copy" | bc)x," \
  "compact $(echo "scale=2; $t_compact / $t_copy" | bc)x (goal: extract <= 1.5x)"
fi

# 100 entries picked at random (the same ones for both), read one process each.
(cd "$work/tree" && zip -q -r -0 "$work/tree.zip" d*)
mapfile -t picked < <(python3 -c "
import random
rng = random.Random(11)
for i in rng.sample(range($files), 100):
    print('d%03d/f%06d.%s' % (i % 100, i, 'txt' if i % 2 == 0 else 'bin'))")
for name in "${picked[@]:0:3}"; do
  cmp -s <("$pkfs" cat "$set_path" "$name") <(unzip -p "$work/tree.zip" "$name") ||
    { echo "pkfs cat and unzip -p differ on $name" >&2; exit 1; }
done
cat_all() { for name in "${picked[@]}"; do "$pkfs" cat "$set_path" "$name"; done; }
unzip_all() { for name in "${picked[@]}"; do unzip -p "$work/tree.zip" "$name"; done; }
seconds() {
  local t0 t1
  t0=$(date +%s.%N)
  "$@" >/dev/null
  t1=$(date +%s.%N)
  echo "$t1 - $t0" | bc
}
cats=(); unzips=()
for ((i = 0; i < runs; i++)); do
  cats+=("$(seconds cat_all)")
  unzips+=("$(seconds unzip_all)")
done
t_cat=$(printf '%s\n' "${cats[@]}" | sort -n | sed -n "$(((runs + 1) / 2))p")
t_unzip=$(printf '%s\n' "${unzips[@]}" | sort -n | sed -n "$(((runs + 1) / 2))p")
printf '%-10s %8.3f s\n' "cat x100" "$t_cat" "unzip x100" "$t_unzip"
echo "ratio: cat $(echo "scale=2; $t_cat / $t_unzip" | bc)x unzip -p (goal: <= 2x)"
if [[ -x "$build/bench/pack_bench" ]]; then
  "$build/bench/pack_bench" --benchmark_filter='BM_LoadDirectory/100000$' 2>/dev/null |
    grep BM_LoadDirectory | sed 's/^/directory load: /'
  echo "(goal: a 100,000-entry directory loads in at most 50 ms)"
fi
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) processors"
