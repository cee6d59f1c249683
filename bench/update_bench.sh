#!/usr/bin/env bash
# End-to-end benchmark of update runs against the work that cannot be avoided.
#
# Builds a delivered update of 2,000 files (1,000 for the pack, half of them
# ".txt" so that they pass through the filter, and 1,000 loose files), 64 MiB
# in all before compression, each file bzip2-compressed over its inverted
# bytes; and two trees of 8,000 small files in one directory (loose, and for
# the pack). Then times, in fresh installations:
#   update    marovetin -dc -de -df -sw update   (decode on every core, store/write, delete)
#   update/1  the same with MAROVETIN_JOBS=1      (decoding inline, for reference)
#   bunzip2   decompressing every payload file on one core (the decoding floor)
#   plain     marovetin -df -sw update            (the same files delivered uncompressed)
#   copy      cp -r of the plain tree, then rm -rf of the source (the moving floor),
#             and the same ending with a sync (the floor for a copy that, like
#             the update, is on the disk when it ends)
#   8,000 loose files in one directory, and 8,000 pack files in one directory,
#             each against cp -r + rm -rf of the same files
# and reports the median of RUNS runs of each, the ratios within one run of
# this script, and the peak memory (max RSS) of the compressed run.
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

echo "generating 2,000 files (64 MiB) and 2 x 8,000 small files in $work ..." >&2
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

with Pool(2) as pool:
    sizes = pool.map(make, list(names()))
plain = sum(s for s, _ in sizes)
packed = sum(p for _, p in sizes)
print("payload: %d files, %.1f MiB decompressed, %.1f MiB delivered" %
      (FILES, plain / 2**20, packed / 2**20), file=sys.stderr)

# One directory of 8,000 files of 1 KiB, below the work path (two levels, so
# that the run creates the directories in the installation) and below "Pak".
for tree, below in (("wide-loose", os.path.join("wide", "files")),
                    ("wide-pack", os.path.join("Pak", "wide"))):
    directory = os.path.join(work, tree, below)
    os.makedirs(directory)
    for i in range(8000):
        with open(os.path.join(directory, "w%05d.bin" % i), "wb") as f:
            f.write(os.urandom(1024))
PY

# Trees of earlier runs are set aside, not deleted, until the script ends:
# a file system that avoids reusing recently freed inodes (ext4 without a
# journal skips those freed in the last minutes, one by one, for every file it
# makes) would otherwise charge the deletion of one run's files to the next
# run's file creation, and to the copy's alike.
mkdir -p "$work/set-aside"
set_aside() {
  local path
  for path in "$@"; do
    [[ -e "$path" ]] && mv "$path" "$(mktemp -d "$work/set-aside/XXXXXX")/"
  done
  return 0
}

calc() { awk "BEGIN { printf \"%.3f\", $1 }"; }
median() { sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
now() { date +%s.%N; }

# Runs a command with its output discarded; prints "seconds max-rss-KiB".
measure() {
  if [[ -x /usr/bin/time ]]; then
    local out="$work/time.out"
    /usr/bin/time -f '%e %M' -o "$out" "$@" >/dev/null 2>>"$work/errors.log"
    cat "$out"
  else
    local start end
    start=$(now); "$@" >/dev/null 2>>"$work/errors.log"; end=$(now)
    echo "$(calc "$end - $start") 0"
  fi
}

time_update() {  # jobs, tree, options...
  local jobs=$1 tree=$2; shift 2
  local dir="$work/run"
  set_aside "$dir"; mkdir -p "$dir"
  cp -r "$work/$tree" "$dir/update"
  sync
  local result
  result=$(cd "$dir" && export MAROVETIN_JOBS="$jobs" && measure "$marovetin" "$@" -df -sw update)
  [[ ! -e "$dir/update" ]] || {
    echo "update left files behind:" >&2; tail -3 "$work/errors.log" >&2; exit 1
  }
  echo "$result"
}

time_copy() {  # tree [durable]: cp -r, then rm -rf of the source copy, as "-df" removes it
  local tree=$1 durable=${2:-} dir="$work/copy"
  set_aside "$dir" "$work/copy-source"
  cp -r "$work/$tree" "$work/copy-source"
  sync
  local start end
  start=$(now)
  cp -r "$work/copy-source" "$dir"
  rm -rf "$work/copy-source"
  # The update makes its files durable before it deletes a source; a copy
  # that does the same ends with a sync.
  [[ -z "$durable" ]] || sync
  end=$(now)
  set_aside "$dir"
  calc "$end - $start"
}

time_bunzip2() {
  local start end
  start=$(now)
  find "$work/packed" -type f -exec cat {} + | bzip2 -dc >/dev/null
  end=$(now)
  calc "$end - $start"
}

jobs=$(nproc)
declare -a update rss update1 bunzip2 plain copy durableCopy wideLoose wideLooseCopy widePack widePackCopy
for ((i = 0; i < runs; i++)); do
  read -r t m < <(time_update "$jobs" packed -dc -de); update+=("$t"); rss+=("$m")
  read -r t _ < <(time_update 1 packed -dc -de); update1+=("$t")
  bunzip2+=("$(time_bunzip2)")
  read -r t _ < <(time_update "$jobs" plain); plain+=("$t")
  copy+=("$(time_copy plain)")
  durableCopy+=("$(time_copy plain durable)")
  read -r t _ < <(time_update "$jobs" wide-loose); wideLoose+=("$t")
  wideLooseCopy+=("$(time_copy wide-loose)")
  read -r t _ < <(time_update "$jobs" wide-pack); widePack+=("$t")
  widePackCopy+=("$(time_copy wide-pack)")
done
m() { printf '%s\n' "$@" | median; }
u=$(m "${update[@]}"); u1=$(m "${update1[@]}"); b=$(m "${bunzip2[@]}")
p=$(m "${plain[@]}"); c=$(m "${copy[@]}"); dc=$(m "${durableCopy[@]}")
wl=$(m "${wideLoose[@]}"); wlc=$(m "${wideLooseCopy[@]}")
wp=$(m "${widePack[@]}"); wpc=$(m "${widePackCopy[@]}")
r=$(printf '%s\n' "${rss[@]}" | sort -g | tail -1)

printf 'median of %d runs on %d cores; 2,000 files, 64 MiB\n' "$runs" "$jobs"
printf '  update (-dc -de -df), %d jobs   %8.3f s  %6.2f x single-core bunzip2   (goal <= 0.65)\n' \
  "$jobs" "$u" "$(calc "$u / $b")"
printf '  update (-dc -de -df), 1 job     %8.3f s  %6.2f x single-core bunzip2\n' "$u1" "$(calc "$u1 / $b")"
printf '  bunzip2 of the payloads         %8.3f s\n' "$b"
printf '  plain (-df)                     %8.3f s  %6.2f x cp -r + rm -rf       (goal <= 1.3)\n' \
  "$p" "$(calc "$p / $c")"
printf '  cp -r + rm -rf                  %8.3f s\n' "$c"
printf '  cp -r + rm -rf + sync           %8.3f s  (plain is %.2f x this durable copy)\n' \
  "$dc" "$(calc "$p / $dc")"
printf '  8,000 loose files, one dir      %8.3f s  %6.2f x cp -r + rm -rf (%.3f s)\n' \
  "$wl" "$(calc "$wl / $wlc")" "$wlc"
printf '  8,000 pack files, one dir       %8.3f s  %6.2f x cp -r + rm -rf (%.3f s)\n' \
  "$wp" "$(calc "$wp / $wpc")" "$wpc"
if [[ "$r" != 0 ]]; then
  printf '  max RSS of the compressed run   %8.1f MiB                              (goal < 150)\n' \
    "$(calc "$r / 1024")"
fi
