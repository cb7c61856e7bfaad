#!/usr/bin/env bash
# Installs the build into a scratch prefix and checks what the package holds:
# the programs, the desktop entry and its icons. Then runs the package's
# postinst on that tree (through DPKG_ROOT, as dpkg does for another root)
# with a setcap that only records its arguments, one that fails, and none.
#
# usage: install_test.sh <build dir> <postinst> <1 when the window is built>
set -euo pipefail
build=$1
postinst=$2
with_window=$3

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
status=0
fail() {
  echo "FAIL: $*" >&2
  status=1
}

cmake --install "$build" --prefix "$scratch/usr" >/dev/null
bin=$scratch/usr/bin

for program in vopal-scan nbtstat; do
  [ -x "$bin/$program" ] || fail "$program is not installed in bin"
  page=$scratch/usr/share/man/man1/$program.1.gz
  gzip -dc "$page" 2>/dev/null | grep -q "^\.TH" || fail "no manual page $page"
done
# The window finds its help file in ../share/kestrune-durvane from bin.
grep -q '<html lang="ja">' "$bin/../share/kestrune-durvane/vopala.html" 2>/dev/null ||
  fail "the help file is not installed in share/kestrune-durvane"

# Width and height of a PNG: big-endian words at bytes 16 and 20.
png_size() {
  od -An -tu1 -j16 -N8 "$1" |
    awk '{ printf "%dx%d\n", (($1 * 256 + $2) * 256 + $3) * 256 + $4, (($5 * 256 + $6) * 256 + $7) * 256 + $8 }'
}

if [ "$with_window" = 1 ]; then
  [ -x "$bin/vopal" ] || fail "vopal is not installed in bin"
  desktop=$scratch/usr/share/applications/kestrune-durvane.desktop
  if [ -f "$desktop" ]; then
    program=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop")
    [ -n "$program" ] && [ -x "$bin/$program" ] || fail "Exec=$program of the desktop entry is not installed"
    icon=$(sed -n 's/^Icon=//p' "$desktop")
    [ -n "$icon" ] || fail "the desktop entry names no icon"
    for size in 16 32 48 64 128 256; do
      file=$scratch/usr/share/icons/hicolor/${size}x${size}/apps/$icon.png
      if [ ! -f "$file" ]; then
        fail "no icon $file"
      elif [ "$(png_size "$file")" != "${size}x${size}" ]; then
        fail "$file is $(png_size "$file"), not ${size}x${size}"
      fi
    done
    grep -qx 'Categories=Network;System;' "$desktop" || fail "the desktop entry's categories"
    grep -q '^Name\[ja\]=' "$desktop" || fail "the desktop entry has no Japanese name"
    grep -q '^Comment\[ja\]=' "$desktop" || fail "the desktop entry has no Japanese comment"
  else
    fail "no desktop entry"
  fi
else
  [ ! -e "$scratch/usr/share/applications/kestrune-durvane.desktop" ] ||
    fail "a desktop entry is installed without the window program"
fi

# The postinst, with a setcap that records its arguments and exits with
# $SETCAP_STATUS.
fake=$scratch/fakebin
mkdir -p "$fake"
log=$scratch/setcap.log
cat >"$fake/setcap" <<FAKE
#!/bin/sh
echo "\$*" >>"$log"
exit \${SETCAP_STATUS:-0}
FAKE
chmod +x "$fake/setcap"

# Only the helper, and only as a permitted capability: nothing that links Qt
# (or loads anything the caller names) may hold one.
helper=$scratch/usr/lib/kestrune-durvane/vopal-icmp-helper
[ -x "$helper" ] || fail "the raw-socket helper is not installed in lib/kestrune-durvane"
if command -v ldd >/dev/null; then
  ! ldd "$helper" | grep -qi qt || fail "the helper links Qt"
fi
expected="cap_net_raw=p $helper"

if ! DPKG_ROOT=$scratch PATH="$fake:/usr/bin:/bin" sh "$postinst" configure 2>"$scratch/err"; then
  fail "postinst configure failed"
fi
[ "$(cat "$log" 2>/dev/null)" = "$expected" ] ||
  fail "postinst ran setcap as: $(cat "$log" 2>/dev/null) -- expected: $expected"
[ ! -s "$scratch/err" ] || fail "postinst complained although setcap worked: $(cat "$scratch/err")"

# Only configuring sets the capability.
rm -f "$log"
DPKG_ROOT=$scratch PATH="$fake:/usr/bin:/bin" sh "$postinst" abort-upgrade 2>/dev/null ||
  fail "postinst abort-upgrade failed"
[ ! -e "$log" ] || fail "postinst abort-upgrade ran setcap"

# setcap fails (a file system without extended attributes): a note, no failure.
if ! DPKG_ROOT=$scratch SETCAP_STATUS=1 PATH="$fake:/usr/bin:/bin" sh "$postinst" configure 2>"$scratch/err"; then
  fail "postinst fails when setcap fails"
fi
grep -q "could not give $helper the cap_net_raw capability" "$scratch/err" ||
  fail "no note when setcap fails: $(cat "$scratch/err")"

# No setcap at all: a note that names its package, no failure.
if PATH=/usr/bin:/bin command -v setcap >/dev/null; then
  echo "setcap is in /usr/bin or /bin here: the case without setcap is not tried"
else
  if ! DPKG_ROOT=$scratch PATH=/usr/bin:/bin sh "$postinst" configure 2>"$scratch/err"; then
    fail "postinst fails without setcap"
  fi
  grep -q "libcap2-bin" "$scratch/err" || fail "no note naming libcap2-bin without setcap"
  grep -q "ping_group_range" "$scratch/err" || fail "the note does not tell of ping_group_range"
fi

exit $status
