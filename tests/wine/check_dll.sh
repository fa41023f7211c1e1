#!/usr/bin/env bash
# A program of the package exports nothing and imports only system DLLs (by
# default the ones corvane.dll may use; a third argument names them for another
# program).
set -euo pipefail
objdump=$1; dll=$2
allowed=${3:-'kernel32\.dll|user32\.dll|bcrypt\.dll|msvcrt\.dll|api-ms-win-crt-[a-z0-9-]+\.dll'}
dump=$("$objdump" -p "$dll")
# The linker leaves an empty export directory; what matters is that it names nothing.
exports=$(sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$dump" | grep -E '^\s+\[\s*[0-9]+\]' || true)
if [ -n "$exports" ]; then echo "$(basename "$dll") exports:"; echo "$exports"; exit 1; fi
imports=$(sed -n 's/^\s*DLL Name: //p' <<<"$dump" | tr 'A-Z' 'a-z' | sort -u)
echo "imports:"; echo "$imports"
bad=$(grep -Ev "^($allowed)\$" <<<"$imports" || true)
if [ -n "$bad" ]; then echo "unexpected imports: $bad"; exit 1; fi
echo "ok"
