#!/usr/bin/env bash
# The objects and libraries linked into corvane.dll (before stripping) hold no
# test seam: no symbol, defined or referenced, named ...ForTests. The seams live
# in each subsystem's test_seam.cpp, which only the test programs link.
set -euo pipefail
nm=$1; shift
symbols=$("$nm" -A "$@")
# The listing must hold the product's code, or an empty one would pass.
grep -q 'UpdateCamera' <<<"$symbols" || { echo "no product code in: $*"; exit 1; }
seams=$(grep 'ForTests' <<<"$symbols" || true)
if [ -n "$seams" ]; then echo "test seams linked into corvane.dll:"; echo "$seams"; exit 1; fi
echo "ok"
