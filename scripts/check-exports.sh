#!/usr/bin/env bash
# Checks that a built driver exports exactly the host contract's functions, undecorated.
# Usage: check-exports.sh LIBRARY   (a .so, or a .dll read with objdump -p)
set -euo pipefail
lib="$1"
here="$(cd "$(dirname "$0")" && pwd)"
expected="$(sort "$here/exports.txt")"

case "$lib" in
  *.dll)
    objdump_bin="${OBJDUMP:-objdump}"
    actual="$("$objdump_bin" -p "$lib" | awk '/\[Ordinal\/Name Pointer\] Table/{t=1;next} t&&/^\s*\[/{print $NF} t&&/^$/{t=0}' | sort)"
    ;;
  *)
    actual="$(nm -D --defined-only "$lib" | awk 'NF >= 3 {print $3}' | sort)"
    ;;
esac

if [ "$actual" != "$expected" ]; then
  echo "check-exports: $lib exports differ from scripts/exports.txt" >&2
  diff <(echo "$expected") <(echo "$actual") >&2 || true
  exit 1
fi
echo "check-exports: $lib exports exactly $(echo "$actual" | wc -l) functions"
