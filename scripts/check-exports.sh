#!/usr/bin/env bash
# Checks that a built driver exports exactly the host contract's functions listed in
# scripts/exports.txt, undecorated.
# Usage: check-exports.sh LIBRARY [PE-FORMAT]
#   LIBRARY.so   the dynamic symbols (nm -D) are exactly the list.
#   LIBRARY.dll  the export table (objdump -p, the MinGW objdump that matches the file or $OBJDUMP)
#                is exactly the list, by name, without stdcall decoration (_name@N); the DLL also
#                passes check-dll-imports.sh (system DLLs only; PE-FORMAT when given).
set -euo pipefail
lib="$1"
want_format="${2:-}"
here="$(cd "$(dirname "$0")" && pwd)"
expected="$(grep -E '^[A-Za-z_][A-Za-z0-9_]*$' "$here/exports.txt" | sort)"
fail=0

case "$lib" in
  *.dll)
    bash "$here/check-dll-imports.sh" "$lib" $want_format || fail=1
    if [ -n "${OBJDUMP:-}" ]; then
      objdump_bin="$OBJDUMP"
    elif i686-w64-mingw32-objdump -f "$lib" >/dev/null 2>&1; then
      objdump_bin=i686-w64-mingw32-objdump
    else
      objdump_bin=x86_64-w64-mingw32-objdump
    fi
    actual="$("$objdump_bin" -p "$lib" |
      awk '/\[Ordinal\/Name Pointer\] Table/{t=1;next} t&&/^[ \t]*\[/{print $NF} t&&/^$/{t=0}' | sort)"
    ;;
  *)
    actual="$(nm -D --defined-only "$lib" | awk '$2 ~ /^[TW]$/ {print $3}' | sort)"
    ;;
esac

if [ "$actual" != "$expected" ]; then
  echo "check-exports: $lib exports differ from scripts/exports.txt (< expected, > actual)" >&2
  diff <(echo "$expected") <(echo "$actual") >&2 || true
  fail=1
fi
[ "$fail" -eq 0 ] || exit 1
echo "check-exports: $lib exports exactly $(echo "$actual" | wc -l) functions"
