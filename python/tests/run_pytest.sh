#!/usr/bin/env bash
# run_pytest.sh PYTHON TEST_FILE... - the binding's tests under PYTHON's pytest; exit 77 (skipped)
# only when that Python has no pytest.
set -euo pipefail
python=$1
shift
if ! "$python" -c "import pytest" 2>/dev/null; then
  echo "SKIPPED: $python has no pytest (Debian: apt-get install python3-pytest); the Python binding is not tested"
  exit 77
fi
exec "$python" -m pytest -q -p no:cacheprovider "$@"
