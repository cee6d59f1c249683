#!/usr/bin/env bash
# Installs the Debian packages the build needs, when any is missing (lintian
# checks the Debian package in the suite); extra package names may be given as
# arguments (the fuzz build adds clang's).
set -euo pipefail

packages=(build-essential cmake ninja-build libbz2-dev bzip2 libgtest-dev libgmock-dev libbenchmark-dev
  python3 lintian "$@")
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}" >&2
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
fi
