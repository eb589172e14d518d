#!/usr/bin/env bash
# Builds the Windows distributable from the win32 preset: one zip holding exactly the 32-bit
# kestcam.dll, its .def, its MinGW import library, include/kestcam/kestcam.h and the docs. Then checks
# the zip's listing, runs the export and import checks on the DLL taken from the zip, and links a
# small host against the zip's import library.
# Then the Debian package kestcam_<version>_<arch>.deb, built with CPack from a tree configured for
# /usr, checked by lintian and used from its extracted tree (tests/package/deb_test.sh).
# Usage: scripts/package.sh [OUT_DIR]      (default build/package; prints the zip's and the .deb's
# paths last)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
out=$(mkdir -p "${1:-build/package}" && cd "${1:-build/package}" && pwd)

cmake --preset win32 >/dev/null
cmake --build --preset win32
build=build/win32
version=$(sed -n 's/^project(kestcam VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
name=kestcam-$version-win32
zip=$out/$name.zip

import_lib=$build/libkestcam.dll.a
for f in "$build/bin/kestcam.dll" "$build/kestcam.def" "$import_lib"; do
  [ -f "$f" ] || { echo "package: $f was not built" >&2; exit 1; }
done

stage=$out/stage
rm -rf "$stage" "$zip"
mkdir -p "$stage/$name/include/kestcam" "$stage/$name/lib"
cp "$build/bin/kestcam.dll" "$stage/$name/"
cp "$build/kestcam.def" "$import_lib" "$stage/$name/lib/"
cp include/kestcam/kestcam.h "$stage/$name/include/kestcam/"
cp -r docs "$stage/$name/docs"
(cd "$stage" && zip -q -X -D -r "$zip" "$name")

# Exactly these files, nothing more, nothing less.
expected=$( {
  printf '%s\n' "$name/kestcam.dll" "$name/lib/kestcam.def" "$name/lib/libkestcam.dll.a" \
    "$name/include/kestcam/kestcam.h"
  (cd docs && find . -type f | sed "s|^\./|$name/docs/|")
} | sort)
actual=$(unzip -Z1 "$zip" | sort)
if [ "$actual" != "$expected" ]; then
  echo "package: the zip's files differ from the distributable's list:" >&2
  diff <(echo "$expected") <(echo "$actual") >&2 || true
  exit 1
fi

# The checks run on the files as the zip delivers them.
check=$out/check
rm -rf "$check" && mkdir -p "$check"
unzip -q "$zip" -d "$check"
scripts/check-exports.sh "$check/$name/kestcam.dll" pei-i386
scripts/check-dll-imports.sh "$check/$name/kestcam.dll" pei-i386
# A host linked with the import library imports the exports by name from kestcam.dll.
i686-w64-mingw32-gcc -o "$check/outside_host.exe" "$root/tests/package/host/main.c" \
  -I"$check/$name/include" "$check/$name/lib/libkestcam.dll.a"
imports=$(i686-w64-mingw32-objdump -p "$check/outside_host.exe")
grep -q "DLL Name: kestcam.dll" <<<"$imports" || { echo "package: the host does not import kestcam.dll" >&2; exit 1; }
for f in initialize getCVLNoOfSupportedCameras getCVLCameraConfigNames finalize; do
  grep -Eq "^[[:space:]]+[0-9a-f]+[[:space:]]+[0-9]+[[:space:]]+$f\$" <<<"$imports" ||
    { echo "package: the host does not import $f from kestcam.dll" >&2; exit 1; }
done
rm -rf "$stage" "$check"
echo "package: $(unzip -Z1 "$zip" | wc -l) files, listing, exports, imports and import library checked"

# The Debian package: installed paths as Debian lays them out (multiarch library directory).
debbuild=build/deb
cmake -S . -B "$debbuild" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DKESTCAM_BUILD_TESTS=OFF -DKESTCAM_DEBIAN_FILES=ON >/dev/null
cmake --build "$debbuild"
(cd "$debbuild" && cpack -G DEB -B "$out" >/dev/null)
deb=$(ls "$out"/kestcam_"$version"_*.deb)
tests/package/deb_test.sh "$deb" "$out/deb-check"
rm -rf "$out/_CPack_Packages" "$out/deb-check"
echo "$zip"
echo "$deb"
