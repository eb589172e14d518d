#!/usr/bin/env bash
# deb_test.sh DEB WORK - the Debian package as a user gets it: lintian finds no error, and the tree
# dpkg-deb -x extracts works from where it lies: the CLI finds the driver in the multiarch library
# directory and lists the simulated cameras, gst-inspect-1.0 finds kestcamsrc and a pipeline grabs,
# the Python binding looks in the multiarch directory, and the driver loads the GenICam backend beside it.
set -euo pipefail
deb=$1 work=$2
fail() { echo "deb: $*" >&2; exit 1; }
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH 2>/dev/null || gcc -print-multiarch)

lintian --fail-on error --tag-display-limit 0 "$deb" || fail "lintian reports errors"

rm -rf "$work" && mkdir -p "$work/system" && work=$(cd "$work" && pwd)
dpkg-deb -x "$deb" "$work/tree"
tree=$work/tree
lib=$tree/usr/lib/$multiarch
for f in usr/bin/kestcam usr/include/kestcam/kestcam.h "usr/lib/$multiarch/libkestcam.so" \
         "usr/lib/$multiarch/libkestcam_genicam.so" usr/share/doc/kestcam/genicam.md \
         "usr/lib/$multiarch/gstreamer-1.0/libgstkestcam.so" "usr/lib/$multiarch/pkgconfig/kestcam.pc" \
         "usr/lib/$multiarch/cmake/kestcam/kestcamConfig.cmake" usr/share/doc/kestcam/gstreamer.md \
         usr/share/doc/kestcam/copyright usr/lib/python3/dist-packages/kestcam/__init__.py; do
  [ -e "$tree/$f" ] || fail "missing /$f"
done

export KESTCAM_SIM_CONFIG=
listing=$(cd "$work/system" && "$tree/usr/bin/kestcam" list)
[ "$listing" = $'Camera 1\nCamera 2\nCamera 3' ] || fail "the extracted kestcam listed '$listing'"

# The GenICam backend beside the extracted driver is the one KESTCAM_MIL=genicam loads.
genicam_log=$(cd "$work/system" && KESTCAM_MIL=genicam "$tree/usr/bin/kestcam" -v list 2>&1 >/dev/null) || true
grep -qE "imaging library $tree/.*lib/$multiarch/libkestcam_genicam\.so loaded" <<<"$genicam_log" || fail "the extracted driver does not load its GenICam backend: $genicam_log"

export GST_PLUGIN_PATH=$lib/gstreamer-1.0 GST_REGISTRY=$work/registry.bin
inspect=$(gst-inspect-1.0 kestcamsrc) || fail "gst-inspect-1.0 does not find kestcamsrc"
grep -q "Filename *$lib/gstreamer-1.0/libgstkestcam.so" <<<"$inspect" || fail "kestcamsrc is not the extracted one"
(cd "$work/system" && gst-launch-1.0 -q kestcamsrc camera="Camera 3" num-buffers=2 ! filesink location=two.raw) ||
  fail "the extracted element does not grab"
[ "$(stat -c %s "$work/system/two.raw")" -eq $((2 * 1024 * 768 * 3)) ] || fail "two BGR images were not written"

PYTHONPATH=$tree/usr/lib/python3/dist-packages python3 -c "
import kestcam._library as l, sys
sys.exit(0 if '/usr/lib/$multiarch/libkestcam.so' in l.candidates() else 1)" ||
  fail "the Python binding does not look in /usr/lib/$multiarch"
echo "deb: lintian clean of errors; the extracted tree lists the cameras, grabs through kestcamsrc"
