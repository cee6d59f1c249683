#!/usr/bin/env bash
# Installs the build into a scratch prefix, builds the consumer project
# against it with find_package, and runs it in a scratch directory.
set -euo pipefail
build_dir=$1
source_dir=$(cd "$(dirname "$0")" && pwd)
scratch=$(mktemp -d "${TMPDIR:-/tmp}/marovetin-find-package-XXXXXX")
trap 'rm -rf "$scratch"' EXIT
cmake --install "$build_dir" --prefix "$scratch/prefix" >/dev/null

# The library's internal headers (free-space list, timer, name rules, the
# volume class) and the terminal UI stay out of the install. The format's
# records, the key form of names and a volume as a reader sees it are public:
# the pkfs tool reads them through the installed headers only.
leaked=$(cd "$scratch/prefix/include" && ls pkfs/leak_list.h pkfs/scope_timer.h \
  pkfs/name_rule.h pkfs/pack_archive.h ui platform/progress_view.h \
  platform/message_queue.h 2>/dev/null || true)
if [ -n "$leaked" ]; then
  echo "internal headers were installed:" $leaked >&2
  exit 1
fi

cmake -S "$source_dir" -B "$scratch/build" -DCMAKE_PREFIX_PATH="$scratch/prefix" \
  -DMAROVETIN_INCLUDE_DIR="$scratch/prefix/include" >/dev/null
cmake --build "$scratch/build" >/dev/null
mkdir "$scratch/run"
cd "$scratch/run"
"$scratch/build/pkfs_consumer" >/dev/null
