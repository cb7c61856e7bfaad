#!/usr/bin/env bash
# Runs one test program inside the client namespace of the test LAN:
#
#   run-in-testlan.sh <program> [arguments...]
#
# Brings the LAN up (scripts/testlan.sh), runs the program in kd-client, and
# takes the LAN down again whatever the program did. One caller at a time:
# the LAN lock is held from `up` to `down`. Exit 77 (reported as skipped by
# ctest) where network namespaces cannot be made.
set -uo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
testlan=$here/../../scripts/testlan.sh
skip=77

if [ $# -lt 1 ]; then
    echo "usage: $0 <program> [arguments...]" >&2
    exit 2
fi

skip_because() {
    echo "SKIPPED: $* -- the LAN tests build network namespaces; run them as root" \
        "(e.g. sudo ctest -L lan)."
    exit $skip
}

[ "$(id -u)" -eq 0 ] || skip_because "not root"
command -v ip >/dev/null || skip_because "ip (iproute2) is missing"
probe=kd-probe-$$
ip netns add "$probe" 2>/dev/null || skip_because "network namespaces cannot be made here"
ip netns del "$probe"

exec 9>/run/kd-testlan.lock || exit 1
if ! flock -w 600 9; then
    echo "the test LAN stayed busy for 10 minutes (lock /run/kd-testlan.lock)" >&2
    exit 1
fi
export KD_TESTLAN_LOCKED=1

trap '"$testlan" down' EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

if ! "$testlan" up; then
    echo "the test LAN could not be brought up; see the messages above" >&2
    exit 1
fi
ip netns exec kd-client "$@" 9>&-
