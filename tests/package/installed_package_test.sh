#!/usr/bin/env bash
# installed_package_test.sh BUILD STAGE HOST_SRC WORK STEP - one step of the installed-package test:
#   install          cmake --install BUILD into STAGE and check the layout
#   cmake-host       configure and build HOST_SRC with find_package(kestcam) against STAGE, run it
#   pkg-config-host  compile HOST_SRC/main.c with `pkg-config --cflags --libs kestcam`, run it
#   installed-cli    STAGE/bin/kestcam list, finding the driver of its own prefix
# Every host must list the simulated cameras of the built-in configuration.
set -euo pipefail
build=$1 stage=$2 host=$3 work=$4 step=$5
mkdir -p "$work"
expected=$'Camera 1\nCamera 2\nCamera 3'

fail() { echo "installed package: $*" >&2; exit 1; }
libdir() { # the library directory the install chose (lib, or lib/<multiarch> under /usr)
  local pc
  pc=$(find "$stage" -name kestcam.pc -path '*/pkgconfig/*' | head -n1)
  [ -n "$pc" ] || fail "no kestcam.pc under $stage"
  dirname "$(dirname "$pc")"
}
check_listing() { # NAME OUTPUT
  [ "$2" = "$expected" ] || fail "$1 listed '$2', expected '$expected'"
  echo "$1 lists the simulated cameras"
}
system_dir() { rm -rf "$work/$1"; mkdir -p "$work/$1"; echo "$work/$1"; }

case $step in
install)
  rm -rf "$stage"
  cmake --install "$build" --prefix "$stage" >/dev/null
  lib=$(libdir)
  for f in include/kestcam/kestcam.h bin/kestcam share/doc/kestcam/README.md share/doc/kestcam/host-guide.md \
           "${lib#"$stage"/}/libkestcam.so" "${lib#"$stage"/}/cmake/kestcam/kestcamConfig.cmake" \
           "${lib#"$stage"/}/cmake/kestcam/kestcamConfigVersion.cmake" \
           "${lib#"$stage"/}/cmake/kestcam/kestcamTargets.cmake"; do
    [ -e "$stage/$f" ] || fail "missing $f"
  done
  # The driver carries the simulator: nothing else of the build may be needed at run time.
  if ldd "$lib/libkestcam.so" | grep -q "$build"; then fail "the installed driver refers to the build tree"; fi
  echo "staged install complete in $stage"
  ;;
cmake-host)
  rm -rf "$work/cmake-host"
  cmake -S "$host" -B "$work/cmake-host" -G Ninja -DCMAKE_PREFIX_PATH="$stage" >"$work/cmake-host.log" 2>&1 ||
    { cat "$work/cmake-host.log" >&2; fail "configuring the host failed"; }
  cmake --build "$work/cmake-host" >>"$work/cmake-host.log" 2>&1 ||
    { cat "$work/cmake-host.log" >&2; fail "building the host failed"; }
  grep -q "$stage" "$work/cmake-host/CMakeCache.txt" || fail "the host did not find the staged package"
  check_listing "the find_package host" "$("$work/cmake-host/outside_host" "$(system_dir cmake-system)")"
  ;;
pkg-config-host)
  lib=$(libdir)
  flags=$(PKG_CONFIG_PATH="$lib/pkgconfig" PKG_CONFIG_LIBDIR="$lib/pkgconfig" pkg-config --cflags --libs kestcam) ||
    fail "pkg-config does not know kestcam"
  case $flags in *"$stage"*) ;; *) fail "pkg-config flags '$flags' do not point into the stage" ;; esac
  # shellcheck disable=SC2086 # the flags are words
  ${CC:-cc} ${CFLAGS:-} -o "$work/pkg-config-host" "$host/main.c" $flags ${LDFLAGS:-}
  check_listing "the pkg-config host" \
    "$(LD_LIBRARY_PATH="$lib" "$work/pkg-config-host" "$(system_dir pkg-config-system)")"
  ;;
installed-cli)
  dir=$(system_dir cli-system)
  check_listing "the installed kestcam" "$(cd "$dir" && "$stage/bin/kestcam" list)"
  ;;
*)
  fail "unknown step $step"
  ;;
esac
