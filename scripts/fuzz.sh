#!/usr/bin/env bash
# Builds the fuzz targets with clang and libFuzzer in their own folder
# (default build-fuzz) and runs each one for a bounded time (FUZZ_SECONDS,
# default 60) from its seed corpus and its stored regression inputs, one
# target after the other. At the end it prints executions per second per
# target and the total executions. A finding fails the run: its reproducer
# is printed (file, bytes, and the command that replays it).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:-build-fuzz}
case "$dir" in /*) ;; *) dir="$here/$dir" ;; esac  # relative to the checkout
seconds=${FUZZ_SECONDS:-60}

# clang with libFuzzer's runtime (Debian bookworm's clang is 14).
"$here/scripts/setup.sh" clang libclang-rt-14-dev
CC=clang CXX=clang++ "$here/scripts/build.sh" "$dir" -DCMAKE_CXX_COMPILER=clang++ \
  -DMAROVETIN_FUZZ=ON -DMAROVETIN_TESTS=OFF -DMAROVETIN_INSTALL=OFF
seeds="$dir/fuzz/seeds"
python3 "$here/fuzz/make_seed_corpora.py" "$seeds"

# The targets' scratch volumes: memory-backed where possible, and gone at the
# end whatever way the fuzzers ended.
shm=/dev/shm
[ -d "$shm" ] && [ -w "$shm" ] || shm="$dir/fuzz"
MAROVETIN_FUZZ_SCRATCH=$(mktemp -d "$shm/marovetin-fuzz.XXXXXX")
export MAROVETIN_FUZZ_SCRATCH
trap 'rm -rf "$MAROVETIN_FUZZ_SCRATCH"' EXIT

failed=0
total=0
summary=()
for fuzzer in "$dir"/fuzz/fuzz_*; do
  [ -x "$fuzzer" ] || continue
  target=${fuzzer##*/fuzz_}
  corpus="$dir/fuzz/corpus/$target"
  findings="$dir/fuzz/findings/$target"
  mkdir -p "$corpus" "$findings"
  inputs=("$seeds/$target")
  [ -d "$here/fuzz/regressions/$target" ] && inputs+=("$here/fuzz/regressions/$target")
  log="$dir/fuzz/$target.log"
  echo "== fuzz_$target for ${seconds}s" >&2
  status=0
  # close_fd_mask=3: the targets' own output (the library's progress lines,
  # the launcher's messages) would drown the fuzzer's; its reports survive.
  "$fuzzer" "$corpus" "${inputs[@]}" -max_total_time="$seconds" -timeout=25 \
    -rss_limit_mb=2048 -max_len=65536 -print_final_stats=1 -close_fd_mask=3 \
    -artifact_prefix="$findings/" >"$log" 2>&1 || status=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  total=$((total + ${runs:-0}))
  summary+=("$(printf '%-14s %10s runs %8s/s' "$target" "${runs:-?}" "${rate:-?}")")
  if [ "$status" -ne 0 ]; then
    failed=1
    echo "!! fuzz_$target found a fault (exit $status); its report:" >&2
    grep -v '^#[0-9]' "$log" | tail -60 >&2
    for reproducer in "$findings"/*; do
      [ -f "$reproducer" ] || continue
      echo "!! reproducer $reproducer ($(stat -c %s "$reproducer") bytes):" >&2
      od -A x -t x1z -v "$reproducer" | head -40 >&2
      echo "!! replay: $fuzzer $reproducer" >&2
      echo "!! keep it: cp $reproducer $here/fuzz/regressions/$target/" >&2
    done
  fi
done

echo "== fuzzing: executions per target" >&2
printf '%s\n' "${summary[@]}" >&2
echo "== total executions: $total" >&2
exit "$failed"
