#!/usr/bin/env bash
# End-to-end benchmark of marovetin-mkupdate against the work that cannot be
# avoided.
#
#   encode   an update of 2,000 changed files (64 MiB; 1,500 loose, 500 in the
#            pack set) made with -dc -de on every core, against bzip2 -9 of
#            the same 2,000 files, one after another, on one core
#   compare  two identical installations of 20,000 files (about 80 MiB) made
#            into an (empty) update, against diff -rq of the two trees
#
# Reports the median of RUNS runs of each (page cache warm), the ratios, the
# processor time of the encoding against bzip2's (on a loaded machine the
# wall-clock ratio says more about the load than about the work), the peak
# memory of the encoding run, and the load average of the machine.
#
# Usage: bench/mkupdate_bench.sh [build-dir]   (default: build; RUNS=3)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-build}
[[ "$build" = /* ]] || build="$root/$build"
mkupdate="$build/tools/mkupdate/marovetin-mkupdate"
pkfs="$build/tools/pkfs/pkfs"
runs=${RUNS:-3}
for program in "$mkupdate" "$pkfs"; do
  [[ -x "$program" ]] || { echo "build first: $program is missing" >&2; exit 1; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/mkupdate-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT

echo "generating 2 x 2,000 files (64 MiB) and 2 x 20,000 files in $work ..." >&2
python3 - "$work" <<'PY'
import os, sys
from multiprocessing import Pool

work = sys.argv[1]
FILES, TOTAL = 2000, 64 << 20
SIZE = TOTAL // FILES
# Sixteen symbols: 4 bits of entropy a byte, so bzip2 roughly halves the data.
ALPHABET = bytes(range(0x41, 0x51)) * 16

def make(i):
    # The pack's files go to a tree of their own, stored into DATA.pak below.
    relative = (os.path.join("packsrc", "D%02d" % (i % 25), "F%04d.TXT" % i) if i < 500 else
                os.path.join("data", "d%02d" % (i % 25), "f%04d.bin" % i))
    for side in ("old", "new"):
        path = os.path.join(work, side, relative)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(os.urandom(SIZE).translate(ALPHABET))

def make_small(i):
    data = os.urandom(512 + (i * 7919) % 7680)
    relative = os.path.join("d%03d" % (i % 200), "s%05d.dat" % i)
    for side in ("same-old", "same-new"):
        path = os.path.join(work, side, relative)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)

with Pool(2) as pool:
    pool.map(make, range(FILES))
    pool.map(make_small, range(20000), chunksize=500)
PY
for side in old new; do
  "$pkfs" add "$work/$side/DATA.pak" -C "$work/$side/packsrc" . >/dev/null
  # The same bytes as loose files, for bzip2.
  mkdir -p "$work/plain-$side"
  cp -r "$work/$side/packsrc" "$work/$side/data" "$work/plain-$side/"
  rm -rf "$work/$side/packsrc"
done

calc() { awk "BEGIN { printf \"%.3f\", $1 }"; }
median() { sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
now() { date +%s.%N; }

# Prints "seconds max-rss-KiB cpu-seconds" of a command whose output is
# discarded; its exit status may be 0 or 1 (diff -q finding nothing, or
# something).
measure() {
  local out="$work/time.out" status=0
  if [[ -x /usr/bin/time ]]; then
    /usr/bin/time -f '%e %M %U %S' -o "$out" "$@" >/dev/null 2>>"$work/errors.log" || status=$?
    [[ $status -le 1 ]] || { echo "failed ($status): $*" >&2; tail -3 "$work/errors.log" >&2; exit 1; }
    awk '{ printf "%s %s %.2f\n", $1, $2, $3 + $4 }' "$out"
  else
    local start end
    start=$(now); "$@" >/dev/null 2>>"$work/errors.log" || status=$?; end=$(now)
    [[ $status -le 1 ]] || { echo "failed ($status): $*" >&2; exit 1; }
    echo "$(calc "$end - $start") 0 0"
  fi
}

time_encode() {
  rm -rf "$work/out"
  measure "$mkupdate" -q -dc -de "$work/old" "$work/new" "$work/out"
}

time_bzip2() {
  rm -rf "$work/bz"
  cp -r "$work/plain-new" "$work/bz"
  measure sh -c 'find "$1" -type f -print0 | xargs -0 bzip2 -9 -f' sh "$work/bz"
}

time_compare() {
  rm -rf "$work/out"
  measure "$mkupdate" -q "$work/same-old" "$work/same-new" "$work/out"
}

time_diff() { measure diff -rq "$work/same-old" "$work/same-new"; }

# The update made is complete: every payload is there.
time_encode >/dev/null
made=$(find "$work/out" -type f | wc -l)
[[ "$made" == 2000 ]] || { echo "the update holds $made payloads, not 2000" >&2; exit 1; }
time_diff >/dev/null  # warm the cache for both

load_before=$(cut -d' ' -f1-3 /proc/loadavg)
declare -a encode rss encodeCpu bz bzCpu compare diffs
for ((i = 0; i < runs; i++)); do
  read -r t m u < <(time_encode); encode+=("$t"); rss+=("$m"); encodeCpu+=("$u")
  read -r t _ u < <(time_bzip2); bz+=("$t"); bzCpu+=("$u")
  read -r t _ < <(time_compare); compare+=("$t")
  read -r t _ < <(time_diff); diffs+=("$t")
done
load_after=$(cut -d' ' -f1-3 /proc/loadavg)
m() { printf '%s\n' "$@" | median; }
e=$(m "${encode[@]}"); b=$(m "${bz[@]}"); c=$(m "${compare[@]}"); d=$(m "${diffs[@]}")
ec=$(m "${encodeCpu[@]}"); bc=$(m "${bzCpu[@]}")
r=$(printf '%s\n' "${rss[@]}" | sort -g | tail -1)

printf 'median of %d runs on %d cores; load average %s before, %s after\n' \
  "$runs" "$(nproc)" "$load_before" "$load_after"
printf '  mkupdate -dc -de, 2,000 changed files (64 MiB)  %8.3f s  %5.2f x bzip2 -9 on one core  (goal <= 0.6)\n' \
  "$e" "$(calc "$e / $b")"
printf '  bzip2 -9 of the same files, one core            %8.3f s\n' "$b"
printf '  processor time (user + system): mkupdate %.2f s, bzip2 %.2f s, %.2f x; on two\n' \
  "$ec" "$bc" "$(calc "$ec / $bc")"
printf '    idle cores the encoding would take about %.2f x the one-core bzip2 time\n' \
  "$(calc "$ec / $bc / 2")"
printf '  mkupdate, 20,000 unchanged files                %8.3f s  %5.2f x diff -rq  (goal <= 1.5)\n' \
  "$c" "$(calc "$c / $d")"
printf '  diff -rq of the same trees                      %8.3f s\n' "$d"
if [[ "$r" != 0 ]]; then
  printf '  max RSS of the encoding run                     %8.1f MiB\n' "$(calc "$r / 1024")"
fi
