#!/usr/bin/env bash
# Runs the serial-camera tests of the win64 build under Wine, against simulated cameras of the Linux
# build (`kestcam camsim`) on pseudo-terminals that the Wine prefix maps to COM ports, so the Win32
# serial backend (CreateFile, GetCommConfig/SetCommConfig, SetCommTimeouts, PurgeComm, ReadFile,
# WriteFile) talks to a camera for real. Both cameras are stopped by pid and the COM links removed.
# Usage: wine_com_port.sh WINE-RUN WINEPREFIX LINUX-KESTCAM TEST-EXE DATA-DIR
# Exit 77 (skipped) when the Linux build's kestcam is not there.
set -u
wine_run="$1" prefix="$2" camsim="$3" exe="$4" data="$5"
if [ ! -x "$camsim" ]; then
  echo "wine_com_port: $camsim is missing; build the linux preset first"
  exit 77
fi

work="$(mktemp -d)"
pids=()
links=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null; done
  for link in "${links[@]}"; do rm -f "$link"; done
  rm -rf "$work"
}
trap cleanup EXIT

# The prefix and its dosdevices directory exist from here on.
"$wine_run" cmd /c exit 0 >/dev/null 2>&1 || { echo "wine_com_port: Wine does not start"; exit 1; }

# start NAME COM: the camera of DATA-DIR/camsim-NAME.ini behind COM; the tests find both in
# KESTCAM_TEST_CAMSIM_NAME as "COM|trace file".
start() {
  local name="$1" com="$2" trace="$work/$1.trace" pty="" i
  "$camsim" camsim --config "$data/camsim-$name.ini" >"$trace" 2>"$work/$name.err" &
  pids+=($!)
  for i in $(seq 100); do
    [ "$(wc -l <"$trace")" -ge 1 ] && break
    sleep 0.1
  done
  pty="$(head -n1 "$trace")"
  if [ -z "$pty" ]; then
    echo "wine_com_port: camsim $name did not start: $(cat "$work/$name.err")"
    exit 1
  fi
  ln -sfn "$pty" "$prefix/dosdevices/$com"
  links+=("$prefix/dosdevices/$com")
  export "KESTCAM_TEST_CAMSIM_${name^^}=${com^^}|Z:$trace"
  echo "wine_com_port: ${com^^} -> $pty (camsim $name)"
}
start standard com5
start silent com6

# The tests that configure the camera themselves need it in-process and are left out.
out="$work/tests.out"
"$wine_run" "$exe" --gtest_filter='SerialCameraExports.*:-*AModeTheSettingsDoNotList*:*FallingSilent*' 2>&1 |
  tee "$out"
status=${PIPESTATUS[0]}
if grep -q '^\[  SKIPPED \]' "$out"; then
  echo "wine_com_port: a test was skipped: the COM ports did not reach it"
  status=1
fi
exit "$status"
