#!/usr/bin/env bash
# Builds the Debian package in a build folder (cpack -G DEB) and checks what
# it holds: the programs (stripped), their manual pages, the copyright file
# and changelog, the library with its headers and CMake package, control
# fields that name the package and version and a description whose
# continuation lines are well-formed; and lintian finds no error in it.
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
            ./usr/lib/cmake/marovetin/marovetin-targets.cmake \
            ./usr/share/doc/marovetin/copyright ./usr/share/doc/marovetin/changelog.gz; do
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
  gzip -dc "$out/root/usr/share/man/man1/$page.1.gz" | grep '^\.TH ' >/dev/null ||
    { echo "$page.1.gz is not a manual page" >&2; status=1; }
done
"$out/root/usr/bin/pkfs" --version | grep -q '^pkfs ' || { echo "pkfs does not run" >&2; status=1; }
"$out/root/usr/bin/marovetin-mkupdate" --version | grep -q '^marovetin-mkupdate ' ||
  { echo "marovetin-mkupdate does not run" >&2; status=1; }
# Shipped programs carry no symbols or debug information.
for program in marovetin pkfs marovetin-mkupdate; do
  if readelf -S "$out/root/usr/bin/$program" | grep -E '\.(symtab|debug_info)' >/dev/null; then
    echo "usr/bin/$program is not stripped" >&2
    status=1
  fi
done
# The description: a summary, then continuation lines that each begin with
# one space (dpkg-deb -f shows the field as stored).
description=$(dpkg-deb -f "$deb" Description)
if [[ $(wc -l <<<"$description") -lt 2 ]] || tail -n +2 <<<"$description" | grep -qv '^ [^ ]'; then
  echo "malformed Description field:" >&2
  echo "$description" >&2
  status=1
fi
if command -v lintian >/dev/null; then
  # Errors only; warnings and notes are reported but do not fail.
  lintian --no-tag-display-limit "$deb" >"$out/lintian.log" 2>&1 || true
  if grep -q '^E: ' "$out/lintian.log"; then
    echo "lintian reports errors:" >&2
    cat "$out/lintian.log" >&2
    status=1
  fi
else
  echo "lintian is not installed (scripts/setup.sh installs it)" >&2
  status=1
fi
exit $status
