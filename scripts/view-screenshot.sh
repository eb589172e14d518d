#!/usr/bin/env bash
# Regenerates docs/ui/live-view.png: builds the linux preset, then runs the live view's browser test
# (headless Chromium against a simulated camera with a simulated serial camera), which writes the
# screenshot of the page. Needs chromium and python3-websocket (scripts/bootstrap.sh installs them).
set -euo pipefail
cd "$(dirname "$0")/.."

cmake --preset linux >/dev/null
cmake --build --preset linux --target kestcam kestcam_cli
status=0
/usr/bin/python3 tests/view/view_browser_test.py --kestcam build/linux/bin/kestcam \
  --screenshot docs/ui/live-view.png || status=$?
if [ "$status" -eq 77 ]; then
  echo "view-screenshot: chromium or python3-websocket is missing (run scripts/bootstrap.sh)" >&2
fi
exit "$status"
