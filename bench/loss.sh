#!/usr/bin/env bash
# vopal-scan under loss, beside nmap -sn and nbtscan under the same loss, on
# the test LAN (bench/peers.sh does the measuring): the LAN's /24 clean and
# with PERCENT of the replies and of the ARP frames lost at random, and the
# routed /16 with its node-status answers limited to RATE a second; then how
# the send rate moves through one scan of the limited /16 (rate_trace_bench).
#
# Not a test: it prints figures. Needs root, and the peers (scripts/setup
# --bench).
#
# usage: bench/loss.sh [runs [PERCENT [RATE]]]   (default: 5 runs, 5 %, 10000)
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "${1:-}" != --inside ]; then
  [ "$(id -u)" -eq 0 ] || { echo "bench: needs root (network namespaces)" >&2; exit 1; }
  runs=${1:-5} percent=${2:-5} rate=${3:-10000}
  [ -x build/vopal-scan ] && [ -x build/bench/rate_trace_bench ] &&
    [ -x build/tests/lan/nbns_responder ] || scripts/build
  bench/peers.sh --only lan "$runs"
  bench/peers.sh --only lan --loss "$percent" "$runs"
  bench/peers.sh --only wide --limit "$rate" "$(( (runs + 1) / 2 ))"
  export KD_TESTLAN_RESPONDER=$PWD/build/tests/lan/nbns_responder
  exec tests/lan/run-in-testlan.sh "$PWD/bench/loss.sh" --inside "$rate"
fi
# Inside the client namespace: the trace.
rate=$2
ip -4 -o addr show | grep -q ' inet 198\.18\.0\.1/24 ' && [ -z "$(ip -4 route show default)" ] ||
  { echo "bench: not inside the test LAN's client namespace" >&2; exit 1; }
wide=$(awk '$1 == "wide" { print $4 }' "${KD_TESTLAN_CONF:-tests/lan/testlan.conf}")
scripts/testlan.sh limit "$rate"
echo
echo "the send rate through one scan of $wide, at most $rate node-status answers a second:"
build/bench/rate_trace_bench "$wide"
