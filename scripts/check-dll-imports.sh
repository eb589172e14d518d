#!/usr/bin/env bash
# Checks a built Windows DLL as a file: every DLL it imports is part of Windows (no MinGW runtime
# such as libstdc++-6.dll, libgcc_s_*.dll or libwinpthread-1.dll has to ship beside it), and, when
# PE-FORMAT is given, its format (pei-i386 for the shipping 32-bit driver, pei-x86-64 for 64-bit).
# Usage: check-dll-imports.sh DLL [PE-FORMAT]      ($OBJDUMP overrides the MinGW objdump chosen)
set -euo pipefail
dll="$1"
want_format="${2:-}"

if [ -n "${OBJDUMP:-}" ]; then
  objdump_bin="$OBJDUMP"
elif i686-w64-mingw32-objdump -f "$dll" >/dev/null 2>&1; then
  objdump_bin=i686-w64-mingw32-objdump
else
  objdump_bin=x86_64-w64-mingw32-objdump
fi
dump="$("$objdump_bin" -p "$dll")"
fail=0

format="$(sed -n 's/.*file format \(.*\)$/\1/p' <<<"$dump" | head -n1)"
magic="$(awk '$1 == "Magic" {print $2, $3; exit}' <<<"$dump")"
echo "check-dll-imports: $dll: $format, magic $magic"
if [ -n "$want_format" ] && [ "$format" != "$want_format" ]; then
  echo "check-dll-imports: $dll has format '$format', expected '$want_format'" >&2
  fail=1
fi

imports="$(awk '/^[ \t]*DLL Name:/{print $3}' <<<"$dump" | sort -u)"
echo "check-dll-imports: $dll imports $(tr '\n' ' ' <<<"$imports")"
system_dll='^(kernel32|user32|gdi32|shlwapi|shell32|comdlg32|comctl32|advapi32|ole32|oleaut32|msvcrt|ucrtbase|ws2_32|api-ms-win-[a-z0-9-]+)\.dll$'
foreign="$(grep -viE "$system_dll" <<<"$imports" || true)"
if [ -n "$foreign" ]; then
  echo "check-dll-imports: $dll imports DLLs that are not part of Windows: $(tr '\n' ' ' <<<"$foreign")" >&2
  fail=1
fi
exit "$fail"
