#!/usr/bin/env bash
# End-to-end benchmark of the pkfs tool on a set of 100,000 entries.
#
# Builds a tree of 100,000 files (100 directories of 1,000; sizes 64 B to
# 2 KiB, about 100 MiB in all; half of them ".txt", so they pass through the
# filter) and stores it with `pkfs add`. Then times, median of RUNS runs:
#   extract  pkfs extract SET -C out       (read, decode, write every entry)
#   cp -r    a copy of the same tree       (the floor: just moving the files)
#   compact  pkfs compact SET              (after every ".bin" file was stored again,
#                                           so that a third of the set is free space)
# and reports the ratios to cp -r. Goal: extract at most 1.5x cp -r.
#
# Usage: bench/pkfs_bench.sh [build-dir]   (default: build; RUNS=3, FILES=100000)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-build}
[[ "$build" = /* ]] || build="$root/$build"
pkfs="$build/tools/pkfs/pkfs"
runs=${RUNS:-3}
files=${FILES:-100000}
[[ -x "$pkfs" ]] || { echo "build first: $pkfs is missing" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/pkfs-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT

echo "generating $files files in $work ..." >&2
python3 - "$work/tree" "$files" <<'PY'
import os, random, sys
root, count = sys.argv[1], int(sys.argv[2])
rng = random.Random(7)
total = 0
for i in range(count):
    d = os.path.join(root, "d%03d" % (i % 100))
    if i < 100:
        os.makedirs(d, exist_ok=True)
    size = rng.randint(64, 2048)
    ext = "txt" if i % 2 == 0 else "bin"
    with open(os.path.join(d, "f%06d.%s" % (i, ext)), "wb") as f:
        f.write(rng.randbytes(size))
    total += size
print("tree: %d files, %.1f MiB" % (count, total / 1048576.0))
PY
set_path="$work/set/DATA.pak"
mkdir -p "$work/set"
start=$(date +%s.%N)
"$pkfs" add "$set_path" -C "$work/tree" . >/dev/null
echo "pkfs add of the tree: $(echo "$(date +%s.%N) - $start" | bc) s" >&2

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

reset='rm -rf "$work/out"'
t_extract=$(median "$pkfs" extract "$set_path" -C "$work/out")
# Check the round trip once (names are stored upper-cased).
[[ $(find "$work/out" -type f | wc -l) -eq $files ]] || { echo "extract lost files" >&2; exit 1; }
reset='rm -rf "$work/copy"'
t_copy=$(median cp -r "$work/tree" "$work/copy")

# Every ".bin" file stored again: its old copy becomes free space.
find "$work/tree" -name '*.bin' -exec sh -c 'printf x >> "$1"' _ {} \;
"$pkfs" add "$set_path" -C "$work/tree" . >/dev/null
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
