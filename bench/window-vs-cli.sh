#!/usr/bin/env bash
# The same list scanned from the window's scan start dialog (offscreen) and by
# vopal-scan, alternately, inside the test LAN's client namespace, with each
# engine (the window's default beside vopal-scan --engine threads, the window
# with 高速スキャン beside vopal-scan's default); prints each run and the medians. Not a test: it prints figures. Needs root: it brings
# the test LAN up and down, holding its lock like the LAN tests do.
#
# usage: bench/window-vs-cli.sh [runs] [threads] [timeout_ms]
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "${1:-}" != --inside ]; then
  [ "$(id -u)" -eq 0 ] || { echo "bench: needs root (network namespaces)" >&2; exit 1; }
  [ -x build/bench/window_scan_bench ] || scripts/build
  exec tests/lan/run-in-testlan.sh "$PWD/bench/window-vs-cli.sh" --inside "$@"
fi
shift
runs=${1:-5}
threads=${2:-15}
timeout_ms=${3:-1000}

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
printf '198.18.0.2,198.18.0.254\r\n' >"$scratch/iplist.lst"

median() { sort -n | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }'; }
# Each scan starts from an empty neighbour table, so that neither finds the
# silent addresses already known as unreachable from the scan before it.
flush() { ip neigh flush all >/dev/null 2>&1 || true; }
: >"$scratch/window-threads" >"$scratch/cli-threads"
: >"$scratch/window-fast" >"$scratch/cli-fast"
for run in $(seq 1 "$runs"); do
  # The window's default engine beside vopal-scan's thread engine, and the
  # window with 高速スキャン beside vopal-scan's default, the same engine.
  for engine in threads fast; do
    flush
    window=$(env XDG_CONFIG_HOME="$scratch" build/bench/window_scan_bench "$scratch/iplist.lst" \
      "$threads" "$timeout_ms" $([ "$engine" = fast ] && echo fast) 2>/dev/null)
    flush
    start=$(date +%s%N)
    env XDG_CONFIG_HOME="$scratch" build/vopal-scan --engine "$engine" --threads "$threads" \
      --timeout "$timeout_ms" --keep-silent --list "$scratch/iplist.lst" >/dev/null 2>&1
    cli_ms=$(( ($(date +%s%N) - start) / 1000000 ))
    echo "run $run, $engine engine: window ${window%% ms*} ms (${window#* ms }), vopal-scan $cli_ms ms"
    echo "${window%% ms*}" >>"$scratch/window-$engine"
    echo "$cli_ms" >>"$scratch/cli-$engine"
  done
done
for engine in threads fast; do
  w=$(median <"$scratch/window-$engine")
  c=$(median <"$scratch/cli-$engine")
  awk -v e="$engine" -v w="$w" -v c="$c" 'BEGIN { printf "median, %s engine: window %d ms, vopal-scan %d ms, window / vopal-scan %.3f\n", e, w, c, w / c }'
done
