#!/usr/bin/env bash
# Installs the build into a scratch prefix, builds the consumer project
# against it with find_package, and runs it in a scratch directory.
set -euo pipefail
build_dir=$1
source_dir=$(cd "$(dirname "$0")" && pwd)
scratch=$(mktemp -d "${TMPDIR:-/tmp}/marovetin-find-package-XXXXXX")
trap 'rm -rf "$scratch"' EXIT
cmake --install "$build_dir" --prefix "$scratch/prefix" >/dev/null
cmake -S "$source_dir" -B "$scratch/build" -DCMAKE_PREFIX_PATH="$scratch/prefix" >/dev/null
cmake --build "$scratch/build" >/dev/null
mkdir "$scratch/run"
cd "$scratch/run"
"$scratch/build/pkfs_consumer" >/dev/null
