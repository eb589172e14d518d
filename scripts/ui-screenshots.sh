#!/usr/bin/env bash
# Regenerates the screenshots of docs/ui/: builds the win64 preset's driver and snapshot program,
# starts Xvfb and a Wine server of its own (a prefix in build/win64), lets the program open the
# property sheet of a simulated camera through configureCamera (both pages, then the lookup-table
# generator), converts the captures to PNG and stops everything it started, by pid.
# Needs: the win64 toolchain, wine64, xvfb and imagemagick (not part of CI).
set -euo pipefail
cd "$(dirname "$0")/.."
root="$(pwd)"

for tool in Xvfb convert /usr/lib/wine/wine64; do
  command -v "$tool" >/dev/null || { echo "ui-screenshots: $tool is missing (apt-get install xvfb imagemagick wine64)" >&2; exit 1; }
done

cmake --preset win64 >/dev/null
cmake --build --preset win64 --target kestcam kestcam_ui_snapshot

wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver64
[ -x "$wineserver" ] || wineserver=/usr/lib/wine/wineserver
export WINEPREFIX="$root/build/win64/wineprefix-ui"
export WINEDEBUG=-all
export WINEDLLOVERRIDES='mscoree,mshtml=;winemenubuilder.exe=d'
export KESTCAM_MIL=sim
unset KESTCAM_SIM_CONFIG KESTCAM_NO_MESSAGE_BOXES

work="$(mktemp -d)"
xvfb_pid=""
server_pid=""
cleanup() {
  if [ -n "$server_pid" ]; then
    # Our own server (this prefix, this pid) ends the Wine processes of the session with it; a
    # plain kill would leave them waiting for it forever.
    "$wineserver" -k 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
  fi
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# A display number nobody uses.
display=77
while [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ]; do display=$((display + 1)); done
Xvfb ":$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
export DISPLAY=":$display"
for _ in $(seq 100); do [ -e "/tmp/.X11-unix/X$display" ] && break; sleep 0.1; done

mkdir -p "$WINEPREFIX"
"$wineserver" -f -p >/dev/null 2>&1 &
server_pid=$!
"$wine" wineboot --init >/dev/null 2>&1 || true

# The camera's system path is C:\kestcam of the prefix, so the shots show the same paths every time.
rm -rf "$WINEPREFIX/drive_c/kestcam"
mkdir -p "$work/shots"
timeout 180 "$wine" "$root/build/win64/bin/kestcam_ui_snapshot.exe" 'C:\kestcam' "Z:${work//\//\\}\\shots"

mkdir -p docs/ui
for bmp in "$work"/shots/*.bmp; do
  png="docs/ui/$(basename "${bmp%.bmp}").png"
  convert "$bmp" -strip "$png"
  echo "ui-screenshots: $png"
done
