#!/usr/bin/env bash
# One Windows test case: a fresh folder with corvane.dll (and corvane.ini),
# the stand-in host run under Wine, then corvane.log compared with what the case
# expects.
#
#   run_case.sh --wine W --host EXE --dll DLL [--ini TEXT] [--expect-file F]
#               [--expect-prefix F] [--expect-stdout REGEX] [--change-exe-byte]
#               [-- host options...]
# --expect-file: the log must equal F line for line; --expect-prefix: the log
# must start with F's lines. TEXT may use \n for line ends. --change-exe-byte
# changes one byte of the copied executable three quarters into the file (in
# its large initialised section, past the first reads of a hash).
set -euo pipefail
wine=""; host=""; dll=""; ini=""; expect=""; prefix=""; stdout_re=""; change_byte=0
while [ $# -gt 0 ]; do
  case "$1" in
    --wine) wine=$2; shift 2 ;;
    --host) host=$2; shift 2 ;;
    --dll) dll=$2; shift 2 ;;
    --ini) ini=$2; shift 2 ;;
    --expect-file) expect=$2; shift 2 ;;
    --expect-prefix) prefix=$2; shift 2 ;;
    --expect-stdout) stdout_re=$2; shift 2 ;;
    --change-exe-byte) change_byte=1; shift ;;
    --) shift; break ;;
    *) echo "unknown option $1"; exit 2 ;;
  esac
done
# Host paths after "--" become Windows paths on drive Z:.
args=()
for a in "$@"; do
  if [[ "$a" == /* ]]; then args+=("Z:${a//\//\\}"); else args+=("$a"); fi
done
work=$(mktemp -d "${TMPDIR:-/tmp}/corvane-wine-XXXXXX")
trap 'rm -rf "$work"' EXIT
cp "$dll" "$work/corvane.dll"
cp "$host" "$work/Dishonored2.exe"
if [ "$change_byte" = 1 ]; then
  at=$(( $(stat -c %s "$work/Dishonored2.exe") * 3 / 4 ))
  old=$(od -An -tu1 -j "$at" -N1 "$work/Dishonored2.exe" | tr -d ' ')
  printf "$(printf '\\%03o' $(( old ^ 1 )))" | dd of="$work/Dishonored2.exe" bs=1 seek="$at" conv=notrunc status=none
  cmp -s "$host" "$work/Dishonored2.exe" && { echo "the byte did not change"; exit 1; }
fi
if [ -n "$ini" ]; then printf '%b' "$ini" > "$work/corvane.ini"; fi
out=$("$wine" "$work/Dishonored2.exe" --dll "Z:${work//\//\\}\\corvane.dll" ${args[@]+"${args[@]}"} 2>&1) || {
  echo "stand-in host failed: $out"; exit 1; }
echo "$out"
log="$work/corvane.log"
[ -f "$log" ] || : > "$log"
echo "--- corvane.log"; cat "$log"; echo "---"
if [ -n "$expect" ]; then
  diff -u <(sed 's/\r$//' "$expect") <(sed 's/\r$//' "$log")
fi
if [ -n "$prefix" ]; then
  n=$(wc -l < "$prefix")
  diff -u <(sed 's/\r$//' "$prefix") <(sed 's/\r$//' "$log" | head -n "$n")
fi
if [ -n "$stdout_re" ]; then
  grep -Eq "$stdout_re" <<<"$out" || { echo "stdout does not match: $stdout_re"; exit 1; }
fi
# Every line of the file ends in \r\n.
if [ -s "$log" ] && [ "$(grep -c $'\r$' "$log")" -ne "$(wc -l < "$log")" ]; then
  echo "a log line does not end in CR LF"; exit 1
fi
echo "case passed"
