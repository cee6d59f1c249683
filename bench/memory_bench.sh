#!/usr/bin/env bash
# Peak memory (max RSS) of updates whose files are larger than memory should
# hold: a "-dc -de -df" update delivering one 1 GiB loose file and one 1 GiB
# pack file, and the same delivered plain (-df without -dc/-de, the loose
# file then moved into place, the pack file read in pieces). Goal: under
# 128 MiB plus the pack set's directory, with the default jobs. The
# 2,000-file update's peak is reported by bench/update_bench.sh.
#
# The compressed payload is one bzip2 stream of 32 MiB of sixteen-symbol
# noise, repeated 32 times (concatenated streams decode one after the other).
#
# Usage: bench/memory_bench.sh [build-dir]   (default: build)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-build}
[[ "$build" = /* ]] || build="$root/$build"
marovetin="$build/launcher/marovetin"
[[ -x "$marovetin" ]] || { echo "build first: $marovetin is missing" >&2; exit 1; }
[[ -x /usr/bin/time ]] || { echo "needs /usr/bin/time (package time)" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/marovetin-memory-XXXXXX")
trap 'rm -rf "$work"' EXIT
export MAROVETIN_SHM_NAME="marovetin-memory-$$"

echo "generating two 1 GiB payloads, compressed and plain, in $work ..." >&2
python3 - "$work" <<'PY'
import bz2, os, sys
work = sys.argv[1]
ALPHABET = bytes(range(0x41, 0x51)) * 16
INVERT = bytes(255 - b for b in range(256))
piece = os.urandom(32 << 20).translate(ALPHABET)
stream = bz2.compress(piece.translate(INVERT), 9)
for tree, content in (("packed", stream), ("plain", piece)):
    for relative in (os.path.join("data", "big.bin"), os.path.join("Pak", "big.bin")):
        path = os.path.join(work, tree, relative)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            for _ in range(32):
                f.write(content)
PY

# run TREE OPTIONS...: "seconds max-rss-KiB" of one update of a copy of TREE.
run() {
  local tree=$1; shift
  rm -rf "$work/run"; mkdir -p "$work/run"
  cp -r "$work/$tree" "$work/run/update"
  (cd "$work/run" && /usr/bin/time -f '%e %M' -o "$work/time.out" "$marovetin" "$@" -df -sw update \
    >/dev/null 2>"$work/errors.log") || { cat "$work/errors.log" >&2; exit 1; }
  [[ ! -e "$work/run/update" ]] || { echo "the update left files behind" >&2; exit 1; }
  cat "$work/time.out"
}

calc() { awk "BEGIN { printf \"%.1f\", $1 }"; }
read -r ct cm < <(run packed -dc -de)
read -r pt pm < <(run plain)
printf 'one 1 GiB loose file and one 1 GiB pack file, %d cores (load %s)\n' "$(nproc)" \
  "$(cut -d' ' -f1-3 /proc/loadavg)"
printf '  -dc -de -df   %7.2f s   max RSS %7.1f MiB   (goal < 128 + directory)\n' "$ct" "$(calc "$cm / 1024")"
printf '  plain -df     %7.2f s   max RSS %7.1f MiB\n' "$pt" "$(calc "$pm / 1024")"
