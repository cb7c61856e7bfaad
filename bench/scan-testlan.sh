#!/usr/bin/env bash
# Scans the whole test LAN with vopal-scan (15 + 1 workers, 1000 ms echo
# time-out) from inside the client namespace and prints the wall time beside
# the model bound of the scan manager:
#
#   bound = silent addresses x time-out / (MaxThread + 1)
#
# Not a test: it prints figures. Needs root: it brings the test LAN up and
# down, holding its lock like the LAN tests do.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "${1:-}" != --inside ]; then
  [ "$(id -u)" -eq 0 ] || { echo "bench: needs root (network namespaces)" >&2; exit 1; }
  [ -x build/vopal-scan ] || scripts/build
  exec tests/lan/run-in-testlan.sh "$PWD/bench/scan-testlan.sh" --inside "$@"
fi
shift

threads=15
timeout_ms=1000
range=198.18.0.2-198.18.0.254
runs=${1:-3}

out=$(mktemp)
for run in $(seq 1 "$runs"); do
  ip neigh flush all >/dev/null 2>&1 || true
  start=$(date +%s%N)
  build/vopal-scan --engine threads --threads "$threads" --timeout "$timeout_ms" \
    --keep-silent "$range" >"$out" 2>/dev/null
  end=$(date +%s%N)
  wall_ms=$(( (end - start) / 1000000 ))
  silent=$(grep -c ',×,' "$out" || true)
  answered=$(grep -c ',○,' "$out" || true)
  bound_ms=$(( silent * timeout_ms / (threads + 1) ))
  ratio=$(awk -v w="$wall_ms" -v b="$bound_ms" 'BEGIN { printf "%.3f", w / b }')
  printf 'run %d: %d answered, %d silent; wall %d ms, bound %d ms, ratio %s\n' \
    "$run" "$answered" "$silent" "$wall_ms" "$bound_ms" "$ratio"
done
rm -f "$out"
