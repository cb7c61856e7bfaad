#!/usr/bin/env bash
# The code's includes point down only (scripts/check-layers), and the check
# itself catches an include of a folder above, of an unlisted folder, and of
# Qt in code that must build without it.
#
# usage: layers_test.sh <source root>
set -uo pipefail
root=$1
check=$root/scripts/check-layers
status=0
fail() {
  echo "FAIL: $*" >&2
  status=1
}

"$check" "$root" || fail "the source tree breaks the layering (see above)"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$scratch/scripts" "$scratch/low" "$scratch/high" "$scratch/other"
printf 'low noqt\nhigh\n' >"$scratch/scripts/layers"
printf '#include "low/a.h"\n#include <QWidget>\n' >"$scratch/high/b.cpp"
printf '#pragma once\n' >"$scratch/low/a.h"
"$check" "$scratch" >"$scratch/out" 2>&1 || fail "a clean tree was refused: $(cat "$scratch/out")"

printf '#include "high/b.h"\n' >"$scratch/low/a.cpp"
printf '#include "other/c.h"\n#include <QString>\n' >>"$scratch/low/a.cpp"
if "$check" "$scratch" >"$scratch/out" 2>&1; then
  fail "includes that break the layering were let through"
fi
for expected in "low/a.cpp:1: low includes high/b.h of high, a folder above it" \
                 "low/a.cpp:2: includes other/c.h, which no listed folder holds" \
                 "low/a.cpp:3: low is code without Qt but includes <QString>"; do
  grep -qF "$expected" "$scratch/out" || fail "not reported: $expected -- got: $(cat "$scratch/out")"
done
exit $status
