#!/usr/bin/env bash
# Runs scripts/package twice, from two copies of the sources at different paths
# into two build folders, in different time zones and with different umasks,
# and requires identical bytes: no time stamps and no build or source paths in
# what players receive. The zip holds exactly the package's six files.
# Usage: reproducible_build.sh <source folder> <scratch folder>
set -euo pipefail

source_dir=$1
scratch=$2
command -v x86_64-w64-mingw32-g++-posix >/dev/null || { echo "mingw-w64 not installed; skipped"; exit 77; }

rm -rf "$scratch"
mkdir -p "$scratch/second-copy/sources"
tar -C "$source_dir" --exclude=./build --exclude=./dist --exclude=./.git -cf - . |
  tar -C "$scratch/second-copy/sources" -xf -
# The copy has no history: both runs take the time of the source's last commit.
SOURCE_DATE_EPOCH=$(git -C "$source_dir" log -1 --format=%ct 2>/dev/null || echo 0)
export SOURCE_DATE_EPOCH

package() {  # <sources> <build folder> <dist folder> <time zone> <umask>
  (umask "$5" && TZ=$4 CORVANE_PACKAGE_BUILD=$2 CORVANE_DIST=$3 bash "$1/scripts/package" >/dev/null)
}
package "$source_dir" "$scratch/a" "$scratch/dist-a" UTC 022
package "$scratch/second-copy/sources" "$scratch/second-copy/build-b" "$scratch/second-copy/dist-b" \
  America/New_York 077

status=0
for file in $(cd "$scratch/dist-a" && ls); do
  if cmp "$scratch/dist-a/$file" "$scratch/second-copy/dist-b/$file"; then
    echo "identical: $file ($(sha256sum < "$scratch/dist-a/$file" | cut -c1-16)...)"
  else
    echo "DIFFERENT: $file" >&2
    status=1
  fi
done
zip=$(cd "$scratch/dist-a" && ls corvane-*-win64.zip)
listed=$(zip -sf "$scratch/dist-a/$zip" | sed -n 's/^  //p' | tr '\n' ' ')
expected="README-player.txt corvane-check.exe corvane-telemetry-reader.exe corvane.dll corvane.ini SHA256SUMS "
[ "$listed" = "$expected" ] || { echo "$zip holds: $listed; expected: $expected" >&2; status=1; }
grep -q " $zip\$" "$scratch/dist-a/SHA256SUMS" || { echo "SHA256SUMS does not list $zip" >&2; status=1; }
[ "$status" = 0 ] && rm -rf "$scratch"
exit "$status"
