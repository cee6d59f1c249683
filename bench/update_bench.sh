#!/usr/bin/env bash
# End-to-end benchmark of an update run against a plain copy.
#
# Builds a delivered update of 2,000 files (1,000 for the pack, half of them
# ".txt" so that they pass through the filter, and 1,000 loose files), 64 MiB
# in all before compression, each file bzip2-compressed over its inverted
# bytes. Then times, in fresh installations:
#   update   marovetin -dc -de -df -sw update   (decompress, invert, store/write, delete)
#   plain    marovetin -df -sw update            (the same files delivered uncompressed)
#   cp -r    a copy of the decompressed tree     (the floor: just moving the bytes)
#   bunzip2  decompressing every payload file to nowhere (the decoding floor)
# and reports the median of RUNS runs of each, and the ratios to cp -r.
#
# Usage: bench/update_bench.sh [build-dir]   (default: build; RUNS=3)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-build}
[[ "$build" = /* ]] || build="$root/$build"
marovetin="$build/launcher/marovetin"
runs=${RUNS:-3}
[[ -x "$marovetin" ]] || { echo "build first: $marovetin is missing" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/marovetin-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT
export MAROVETIN_SHM_NAME="marovetin-bench-$$"

echo "generating 2,000 files (64 MiB) in $work ..." >&2
python3 - "$work" <<'PY'
import bz2, os, sys
from multiprocessing import Pool

work = sys.argv[1]
FILES, TOTAL = 2000, 64 << 20
SIZE = TOTAL // FILES
INVERT = bytes(255 - b for b in range(256))
# Sixteen symbols: 4 bits of entropy a byte, so bzip2 roughly halves the data.
ALPHABET = bytes(range(0x41, 0x51)) * 16

def names():
    for i in range(FILES):
        if i < FILES // 2:
            ext = "txt" if i % 2 == 0 else "bin"
            yield os.path.join("Pak", "d%02d" % (i % 25), "f%04d.%s" % (i, ext))
        else:
            yield os.path.join("data", "d%02d" % (i % 25), "f%04d.bin" % i)

def make(relative):
    data = os.urandom(SIZE).translate(ALPHABET)
    for tree, content in (("plain", data), ("packed", bz2.compress(data.translate(INVERT), 9))):
        path = os.path.join(work, tree, relative)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(content)
    return SIZE, len(content)

with Pool() as pool:
    sizes = pool.map(make, list(names()))
plain = sum(s for s, _ in sizes)
packed = sum(p for _, p in sizes)
print("payload: %d files, %.1f MiB decompressed, %.1f MiB delivered" %
      (FILES, plain / 2**20, packed / 2**20), file=sys.stderr)
PY

now() { date +%s.%N; }
calc() { awk "BEGIN { print $1 }"; }
median() { sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

time_update() {  # tree, options...
  local tree=$1; shift
  local dir="$work/run"
  rm -rf "$dir"; mkdir -p "$dir"
  cp -r "$work/$tree" "$dir/update"
  sync
  local start end
  start=$(now)
  (cd "$dir" && "$marovetin" "$@" -df -sw update >/dev/null)
  end=$(now)
  [[ ! -e "$dir/update" ]] || { echo "update left files behind" >&2; exit 1; }
  calc "$end - $start"
}

time_copy() {
  local dir="$work/copy"
  rm -rf "$dir"
  sync
  local start end
  start=$(now)
  cp -r "$work/plain" "$dir"
  end=$(now)
  calc "$end - $start"
}

time_bunzip2() {
  local start end
  start=$(now)
  find "$work/packed" -type f -exec cat {} + | bzip2 -dc >/dev/null
  end=$(now)
  calc "$end - $start"
}

update_times=(); plain_times=(); copy_times=(); bunzip2_times=()
for ((i = 0; i < runs; i++)); do
  update_times+=("$(time_update packed -dc -de)")
  plain_times+=("$(time_update plain)")
  copy_times+=("$(time_copy)")
  bunzip2_times+=("$(time_bunzip2)")
done
update=$(printf '%s\n' "${update_times[@]}" | median)
plain=$(printf '%s\n' "${plain_times[@]}" | median)
copy=$(printf '%s\n' "${copy_times[@]}" | median)
bunzip2=$(printf '%s\n' "${bunzip2_times[@]}" | median)

printf 'median of %d runs, 2,000 files, 64 MiB\n' "$runs"
printf '  update  (-dc -de -df)  %8.3f s   %6.1f x cp -r\n' "$update" "$(calc "$update / $copy")"
printf '  plain   (-df)          %8.3f s   %6.1f x cp -r\n' "$plain" "$(calc "$plain / $copy")"
printf '  cp -r                  %8.3f s\n' "$copy"
printf '  bunzip2 of the payload %8.3f s   %6.1f x cp -r\n' "$bunzip2" "$(calc "$bunzip2 / $copy")"
