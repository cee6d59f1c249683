#!/usr/bin/env bash
# Cross-builds the Windows programs with Debian's mingw-w64: a statically
# linked marovetin.exe, the example lister and the test programs, into a
# build folder (default: build-windows). Set MAROVETIN_WINDOWS_TRIPLE to
# i686-w64-mingw32 for a 32-bit build. Extra arguments go to cmake.
#
# Nothing foreign is committed: libbzip2 is built here from Debian's bzip2
# source package (fetched with apt-get source, which needs deb-src entries:
# they are added in a sources file of their own), and GoogleTest from the
# source that Debian's libgtest-dev ships in /usr/src/googletest.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:-build-windows}
shift || true
case "$dir" in /*) ;; *) dir="$here/$dir" ;; esac  # relative to the checkout
triple=${MAROVETIN_WINDOWS_TRIPLE:-x86_64-w64-mingw32}
case "$triple" in
  x86_64-w64-mingw32) arch=x86-64 ;;
  i686-w64-mingw32) arch=i686 ;;
  *) echo "build-windows.sh: unknown target $triple" >&2; exit 64 ;;
esac
deps="$dir/deps"
jobs=$(nproc)

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"

# --- Debian packages: the cross compilers, wine to run the tests, the sources.
packages=(cmake ninja-build dpkg-dev libgtest-dev "g++-mingw-w64-$arch-posix"
          "gcc-mingw-w64-$arch-posix" wine xvfb)
[ "$arch" = x86-64 ] && packages+=(wine64)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}" >&2
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# --- libbzip2 from Debian's source package.
bzip2_src=$(ls -d "$deps"/src/bzip2-*/ 2>/dev/null | head -n 1 || true)
if [ -z "$bzip2_src" ]; then
  srclist=/etc/apt/sources.list.d/marovetin-deb-src.sources
  if ! apt-get source --print-uris bzip2 >/dev/null 2>&1; then
    # deb-src beside every deb entry of Debian's own sources, in a file of
    # their own so that the system's files stay as they were.
    if [ -f /etc/apt/sources.list.d/debian.sources ]; then
      sed 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources |
        $sudo tee "$srclist" >/dev/null
    else
      grep -h '^deb ' /etc/apt/sources.list | sed 's/^deb /deb-src /' |
        $sudo tee "${srclist%.sources}.list" >/dev/null
    fi
    $sudo apt-get update -qq
  fi
  mkdir -p "$deps/src"
  (cd "$deps/src" && apt-get source -qq bzip2 >/dev/null)
  bzip2_src=$(ls -d "$deps"/src/bzip2-*/ | head -n 1)
fi
bzip2_out="$deps/bzip2-$triple"
if [ ! -f "$bzip2_out/lib/libbz2.a" ]; then
  mkdir -p "$bzip2_out/obj" "$bzip2_out/lib" "$bzip2_out/include"
  for unit in blocksort huffman crctable randtable compress decompress bzlib; do
    "$triple-gcc-posix" -O2 -D_FILE_OFFSET_BITS=64 -c "$bzip2_src/$unit.c" \
      -o "$bzip2_out/obj/$unit.o"
  done
  "$triple-ar" rcs "$bzip2_out/lib/libbz2.a" "$bzip2_out"/obj/*.o
  cp "$bzip2_src/bzlib.h" "$bzip2_out/include/"
fi

# --- GoogleTest from the source that libgtest-dev ships.
toolchain="$here/cmake/mingw-w64-toolchain.cmake"
gtest_out="$deps/gtest-$triple"
if [ ! -f "$gtest_out/lib/cmake/GTest/GTestConfig.cmake" ]; then
  cmake -S /usr/src/googletest -B "$deps/gtest-build-$triple" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DMAROVETIN_WINDOWS_TRIPLE="$triple" \
    -DCMAKE_BUILD_TYPE=Release -DBUILD_GMOCK=OFF -DINSTALL_GTEST=ON \
    -DCMAKE_INSTALL_PREFIX="$gtest_out" >/dev/null
  cmake --build "$deps/gtest-build-$triple" -j "$jobs" >/dev/null
  cmake --install "$deps/gtest-build-$triple" >/dev/null
fi

# --- The project.
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
cmake -S "$here" -B "$dir" -G Ninja "${launcher[@]}" \
  -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DMAROVETIN_WINDOWS_TRIPLE="$triple" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMAROVETIN_INSTALL=OFF \
  -DBZIP2_INCLUDE_DIR="$bzip2_out/include" -DBZIP2_LIBRARY_RELEASE="$bzip2_out/lib/libbz2.a" \
  -DGTest_DIR="$gtest_out/lib/cmake/GTest" "$@" >/dev/null
cmake --build "$dir" -j "$jobs"
