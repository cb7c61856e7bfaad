#!/usr/bin/env bash
# Runs inside the client namespace of the test LAN (through run-in-testlan.sh):
# the installed tree scans the LAN for a normal user on a system that refuses
# unprivileged ICMP sockets. No program but the helper holds a capability;
# the helper holds cap_net_raw as a permitted capability only.
#
# usage: unprivileged_test.sh <build dir> <postinst> <window LAN test program or "">
set -uo pipefail
build=$1
postinst=$2
window_test=${3:-}

status=0
fail() {
  echo "FAIL: $*" >&2
  status=1
}

# Under the build tree: the file system takes capabilities and a normal user
# can reach it.
scratch=$(mktemp -d "$build/unprivileged.XXXXXX") || exit 1
trap 'rm -rf "$scratch"' EXIT
chmod 755 "$scratch"
cmake --install "$build" --prefix "$scratch/usr" >/dev/null || exit 1
bin=$scratch/usr/bin
helper=$scratch/usr/lib/kestrune-durvane/vopal-icmp-helper

# The package's own step gives the capability (DPKG_ROOT: another root).
DPKG_ROOT=$scratch sh "$postinst" configure || fail "postinst configure failed"
for program in "$bin"/*; do
  [ -z "$(getcap "$program")" ] || fail "$(getcap "$program"): no program but the helper may hold a capability"
done
[ "$(getcap "$helper" | awk '{ print $2 }')" = "cap_net_raw=p" ] ||
  fail "the helper holds '$(getcap "$helper")', not cap_net_raw=p"

# This namespace (ours, made for the test) refuses ping sockets to everybody.
echo "1 0" >/proc/sys/net/ipv4/ping_group_range || exit 1

home=$scratch/home
mkdir -p "$home"
chown nobody:nogroup "$home"
# A normal user with an empty environment: no capability, no inherited one.
as_user() {
  setpriv --reuid=nobody --regid=nogroup --clear-groups --inh-caps=-all \
    env -i HOME="$home" XDG_CONFIG_HOME="$home/.config" XDG_DATA_HOME="$home/.local/share" \
    PATH=/usr/bin:/bin "$@"
}
scan=(--threads 15 --timeout 1000 198.18.0.2-198.18.0.40)

# What root sees (its own raw sockets) is what the user must see.
expected=$scratch/expected.csv
"$build/vopal-scan" "${scan[@]}" >"$expected" 2>/dev/null || fail "root's scan failed"
grep -q '^198\.18\.0\.10,○,KDALPHA,KDWORK' "$expected" || fail "root's scan found no KDALPHA"
chmod 644 "$expected"
# The window scans with a thread per probe unless told otherwise.
expected_window=$scratch/expected-window.csv
"$build/vopal-scan" --engine threads "${scan[@]}" >"$expected_window" 2>/dev/null ||
  fail "root's scan with threads failed"
chmod 644 "$expected_window"

as_user "$bin/vopal-scan" "${scan[@]}" >"$scratch/user.csv" 2>"$scratch/user.err"
cmp -s "$expected" "$scratch/user.csv" ||
  fail "the user's vopal-scan gave other rows: $(cat "$scratch/user.csv" "$scratch/user.err")"

# Without the helper's capability nothing answers, and the user is told
# which file to give it to: the check above cannot pass by accident.
setcap -r "$helper"
as_user "$bin/vopal-scan" "${scan[@]}" >"$scratch/none.csv" 2>"$scratch/none.err"
grep -q ',○,' "$scratch/none.csv" && fail "hosts answered without any capability"
grep -q "setcap cap_net_raw=p" "$scratch/none.err" ||
  fail "no hint how to give the helper its capability: $(cat "$scratch/none.err")"
setcap cap_net_raw=p "$helper"

if [ -n "$window_test" ]; then
  as_user KD_UNPRIVILEGED_HELPER="$helper" KD_UNPRIVILEGED_EXPECTED="$expected_window" \
    KD_TESTLAN_CONF="${KD_TESTLAN_CONF:-}" QT_QPA_PLATFORM=offscreen \
    "$window_test" --gtest_filter='*NormalUser*' >"$scratch/window.out" 2>&1 ||
    fail "the window's engine as a normal user: $(cat "$scratch/window.out")"
  grep -q '\[  PASSED  \] 1 test' "$scratch/window.out" ||
    fail "the window's test did not run: $(cat "$scratch/window.out")"
fi

[ $status -eq 0 ] && echo "a normal user scans the test LAN through the helper"
exit $status
