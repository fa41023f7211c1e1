#!/usr/bin/env bash
# Builds corvane.dll and corvane-check.exe twice, from two copies of the
# sources at different paths into two build folders, and requires identical
# bytes: no time stamps and no build or source paths in what players receive.
# Usage: reproducible_build.sh <source folder> <scratch folder>
set -euo pipefail

source_dir=$1
scratch=$2
command -v x86_64-w64-mingw32-g++-posix >/dev/null || { echo "mingw-w64 not installed; skipped"; exit 77; }

rm -rf "$scratch"
mkdir -p "$scratch/second-copy/sources"
tar -C "$source_dir" --exclude=./build --exclude=./dist --exclude=./.git -cf - . |
  tar -C "$scratch/second-copy/sources" -xf -

build() {  # <sources> <build folder>
  cmake -S "$1" --preset windows -B "$2" -DCORVANE_TESTS=OFF -DCORVANE_BENCH=OFF >/dev/null
  cmake --build "$2" --parallel 2 --target corvane corvane-check >/dev/null
}
build "$source_dir" "$scratch/a"
build "$scratch/second-copy/sources" "$scratch/second-copy/build-b"

status=0
for file in corvane.dll tools/corvane-check/corvane-check.exe; do
  if cmp "$scratch/a/$file" "$scratch/second-copy/build-b/$file"; then
    echo "identical: $file ($(sha256sum < "$scratch/a/$file" | cut -c1-16)...)"
  else
    echo "DIFFERENT: $file" >&2
    status=1
  fi
done
[ "$status" = 0 ] && rm -rf "$scratch"
exit "$status"
