#!/usr/bin/env bash
# Builds the Debian package in a build folder (cpack -G DEB) and checks what
# it holds: the programs, their manual pages, the library with its headers
# and CMake package, and control fields that name the package and version.
# Usage: deb_contents.sh BUILD_DIR
set -euo pipefail
build=$1
cd "$build"
out=$(mktemp -d "${TMPDIR:-/tmp}/marovetin-deb-XXXXXX")
trap 'rm -rf "$out"' EXIT
cpack -G DEB -B "$out" >"$out/cpack.log" 2>&1 || { cat "$out/cpack.log"; exit 1; }
deb=$(ls "$out"/marovetin_*.deb)
listing=$(dpkg-deb -c "$deb" | awk '{print $6}')
status=0
for path in ./usr/bin/marovetin ./usr/bin/pkfs ./usr/bin/marovetin-mkupdate \
            ./usr/share/man/man1/marovetin.1.gz ./usr/share/man/man1/pkfs.1.gz \
            ./usr/share/man/man1/marovetin-mkupdate.1.gz \
            ./usr/lib/libpkfs.a ./usr/lib/libplatform.a \
            ./usr/include/pkfs/pkfsf.h ./usr/include/pkfs/fs_manager.h \
            ./usr/include/platform/random_access_file.h \
            ./usr/lib/cmake/marovetin/marovetin-config.cmake \
            ./usr/lib/cmake/marovetin/marovetin-targets.cmake; do
  if ! grep -qxF -- "$path" <<<"$listing"; then
    echo "missing from $(basename "$deb"): $path" >&2
    status=1
  fi
done
# Nothing of the build or the tests is shipped, nor the library's internal
# headers.
if grep -E 'test|/build/|\.o$|pack_archive\.h|leak_list\.h' <<<"$listing"; then
  echo "unexpected files in the package" >&2
  status=1
fi
[[ "$(dpkg-deb -f "$deb" Package)" == marovetin ]] || { echo "wrong Package field" >&2; status=1; }
[[ -n "$(dpkg-deb -f "$deb" Version)" ]] || { echo "no Version field" >&2; status=1; }
# The manual pages are real gzip-compressed roff.
dpkg-deb -x "$deb" "$out/root"
for page in marovetin pkfs marovetin-mkupdate; do
  gzip -dc "$out/root/usr/share/man/man1/$page.1.gz" | grep -q '^\.TH ' ||
    { echo "$page.1.gz is not a manual page" >&2; status=1; }
done
"$out/root/usr/bin/pkfs" --version | grep -q '^pkfs ' || { echo "pkfs does not run" >&2; status=1; }
"$out/root/usr/bin/marovetin-mkupdate" --version | grep -q '^marovetin-mkupdate ' ||
  { echo "marovetin-mkupdate does not run" >&2; status=1; }
exit $status
