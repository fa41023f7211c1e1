#!/usr/bin/env bash
# The stand-in's image section must cover RVAs 0x64A90 to 0x3BF2FAC, and the
# executable must carry an initialised section of several MiB (hashed in
# several reads).
set -euo pipefail
objdump=$1; exe=$2
base=$("$objdump" -p "$exe" | awk '/^ImageBase/ {print $2}')
line=$("$objdump" -h "$exe" | awk '$2 == ".hostimg" {print $3, $4}')
[ -n "$line" ] || { echo "no .hostimg section"; exit 1; }
read -r size vma <<<"$line"
start=$(( 0x$vma - 0x$base )); end=$(( start + 0x$size ))
printf 'hostimg RVA 0x%X..0x%X\n' "$start" "$end"
if [ "$start" -gt $((0x64A90)) ] || [ "$end" -lt $((0x3BF2FAC)) ]; then echo "does not cover the host RVAs"; exit 1; fi
data=$("$objdump" -h "$exe" | awk '$2 == ".hostdat" {print $3}')
if [ -z "$data" ] || [ $((0x$data)) -lt $((4 << 20)) ]; then echo "no initialised section of several MiB"; exit 1; fi
echo "ok"
