#!/usr/bin/env bash
# venv_install.sh PYTHON SOURCE WORK - installs the binding from a copy of SOURCE into a fresh virtual
# environment without the network (Debian's setuptools through --system-site-packages), then imports
# it from there and lists the simulated cameras. Exit 77 when PYTHON cannot make environments.
set -euo pipefail
python=$1 source=$2 work=$3
if ! "$python" -c "import venv, ensurepip, setuptools" 2>/dev/null; then
  echo "SKIPPED: $python lacks venv, ensurepip or setuptools (Debian: python3-venv, python3-setuptools)"
  exit 77
fi
rm -rf "$work"
mkdir -p "$work"
# A copy, so that the build leaves nothing in the source tree.
cp -r "$source/kestcam" "$source/pyproject.toml" "$source/README.md" "$work/"
mkdir "$work/src" && mv "$work/kestcam" "$work/pyproject.toml" "$work/README.md" "$work/src/"
"$python" -m venv --system-site-packages "$work/v"
"$work/v/bin/pip" install --quiet --no-build-isolation --no-index "$work/src"
cd "$work"
rm -rf "$work/src"
out=$("$work/v/bin/python" -c '
import kestcam, os, sys, tempfile
assert os.path.realpath(kestcam.__file__).startswith(os.path.realpath(sys.prefix)), kestcam.__file__
with kestcam.Driver(tempfile.mkdtemp()) as driver:
    print(",".join(driver.cameras()))
')
[ "$out" = "Camera 1,Camera 2,Camera 3" ] || { echo "the installed binding listed '$out'" >&2; exit 1; }
echo "installed into $work/v offline; it lists $out"
