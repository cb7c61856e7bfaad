#!/usr/bin/env bash
# vopal-scan beside its peers on the test LAN, from inside the client
# namespace: the LAN's /24 (198.18.0.0/24) and the routed /20
# (198.18.16.0/20, 4064 hosts that answer ping, half of them with names).
# Each tool runs side by side with the others, `runs` times (default 3), each
# run from an empty neighbour table. Prints per tool and target the median
# wall time, its ratio to the best peer, the largest resident memory (GNU
# time), and whether vopal-scan's rows are exactly the truth (the layout and
# the responder's rule, as nbns_responder --print-truth prints them).
#
# Tools: vopal-scan (its default engine), vopal-scan --engine threads, and
# nbtscan and nmap -sn where they are installed (this script installs
# neither, and runs them only here, against the test LAN). Where vopal-scan
# knows no --engine or --rate yet, only its thread engine runs.
#
# Not a test: it prints figures. Needs root: it brings the test LAN up and
# down, holding its lock like the LAN tests do.
#
# usage: bench/peers.sh [runs]
# KD_BENCH_VOPAL_SCAN names another vopal-scan (default: build/vopal-scan).
set -euo pipefail
cd "$(dirname "$0")/.."

responder=$PWD/build/tests/lan/nbns_responder
if [ "${1:-}" != --inside ]; then
  [ "$(id -u)" -eq 0 ] || { echo "bench: needs root (network namespaces)" >&2; exit 1; }
  [ -x "${KD_BENCH_VOPAL_SCAN:-build/vopal-scan}" ] && [ -x "$responder" ] || scripts/build
  export KD_TESTLAN_RESPONDER=$responder
  exec tests/lan/run-in-testlan.sh "$PWD/bench/peers.sh" --inside "$@"
fi
shift
runs=${1:-3}
[[ $runs =~ ^[1-9][0-9]?$ ]] || { echo "bench: runs must be a number from 1 to 99" >&2; exit 2; }

say() { printf 'bench: %s\n' "$*" >&2; }
# Only ever inside the client namespace, whose one way out is the test LAN.
ip -4 -o addr show | grep -q ' inet 198\.18\.0\.1/24 ' && [ -z "$(ip -4 route show default)" ] ||
  { say "not inside the test LAN's client namespace"; exit 1; }
[ -x /usr/bin/time ] || { say "GNU time is missing (package time: scripts/setup --test)"; exit 1; }

lan=198.18.0.0/24
wide=198.18.16.0/20
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir "$scratch/config" # an empty settings store: the stored defaults apply

"$responder" --print-truth "$lan" >"$scratch/truth-lan"
"$responder" --print-truth "$wide" >"$scratch/truth-wide"

scan=(env "XDG_CONFIG_HOME=$scratch/config" "${KD_BENCH_VOPAL_SCAN:-build/vopal-scan}")
# vopal-scan exits 2 on an option it does not know.
engines=1
"${scan[@]}" --engine threads --rate 10000 --help >/dev/null 2>&1 || engines=0
if [ "$engines" -eq 0 ]; then
  say "this vopal-scan knows no --engine/--rate: only its thread engine runs"
fi

# One line per tool and target: key|target|label|truth file or -|command.
plan=()
add() { plan+=("$1|$2|$3|$4|$5"); }
for target in "$lan" "$wide"; do
  name=lan
  [ "$target" = "$wide" ] && name=wide
  truth=$scratch/truth-$name
  threads=()
  [ "$target" = "$wide" ] && threads=(--threads 1000)
  if [ "$engines" -eq 1 ]; then
    rate=()
    [ "$target" = "$wide" ] && rate=(--rate 10000)
    add "default-$name" "$target" "vopal-scan" "$truth" \
      "${scan[*]} ${rate[*]} --timeout 1000 $target"
    add "threads-$name" "$target" "vopal-scan --engine threads" "$truth" \
      "${scan[*]} --engine threads ${threads[*]} --timeout 1000 $target"
  else
    add "threads-$name" "$target" "vopal-scan (thread engine)" "$truth" \
      "${scan[*]} ${threads[*]} --timeout 1000 $target"
  fi
  if command -v nbtscan >/dev/null; then
    add "nbtscan-$name" "$target" "nbtscan" - "nbtscan -t 1000 $target"
  fi
  if command -v nmap >/dev/null; then
    add "nmap-$name" "$target" "nmap -sn" - "nmap -sn -n $target"
  fi
done

# Same rows as the truth, in any order: vopal-scan's rows follow dispatch.
same_rows() { cmp -s <(sort "$1") <(sort "$2"); }

measure() { # key truth command
  local key=$1 truth=$2 command=$3 start end status=0
  ip neigh flush all >/dev/null 2>&1 || true
  start=$(date +%s%N)
  # shellcheck disable=SC2086 # the command line is ours, split on blanks
  /usr/bin/time -f %M -o "$scratch/rss" $command >"$scratch/out" 2>"$scratch/err" || status=$?
  end=$(date +%s%N)
  echo $(((end - start) / 1000000)) >>"$scratch/$key.ms"
  tail -n 1 "$scratch/rss" >>"$scratch/$key.rss" # after "exited with ..." when it failed
  [ "$status" -eq 0 ] || echo "$command: exit $status: $(head -c 300 "$scratch/err")" >>"$scratch/$key.failed"
  if [ "$truth" != - ]; then
    if [ "$status" -eq 0 ] && same_rows "$scratch/out" "$truth"; then
      echo yes >>"$scratch/$key.truth"
    else
      echo no >>"$scratch/$key.truth"
      diff <(sort "$truth") <(sort "$scratch/out") | grep '^[<>]' >"$scratch/$key.diff" || true
      grep -c '^<' "$scratch/$key.diff" >>"$scratch/$key.off" || true
    fi
  fi
}

for run in $(seq 1 "$runs"); do
  for entry in "${plan[@]}"; do
    IFS='|' read -r key target label truth command <<<"$entry"
    measure "$key" "$truth" "$command"
    printf 'run %d: %-28s %-16s %6d ms\n' "$run" "$label" "$target" "$(tail -n 1 "$scratch/$key.ms")" >&2
  done
done

median() { sort -n "$1" | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }'; }
largest() { sort -n "$1" | tail -n 1; }

# The reference of each target: the fastest peer, or the fastest tool when
# no peer is installed.
reference() { # target
  local best="" fallback="" entry key target label truth command m
  for entry in "${plan[@]}"; do
    IFS='|' read -r key target label truth command <<<"$entry"
    [ "$target" = "$1" ] || continue
    m=$(median "$scratch/$key.ms")
    if [ -z "$fallback" ] || [ "$m" -lt "$fallback" ]; then fallback=$m; fi
    if [ "$truth" = - ] && { [ -z "$best" ] || [ "$m" -lt "$best" ]; }; then best=$m; fi
  done
  echo "${best:-$fallback} ${best:+peer}"
}

echo
printf '%-16s %-28s %10s %8s %12s  %s\n' target tool "median ms" ratio "max RSS KiB" "rows = truth"
notes=()
for target in "$lan" "$wide"; do
  read -r ref kind <<<"$(reference "$target")"
  [ "$kind" = peer ] || notes+=("$target: no peer installed, ratio to the fastest tool")
  for entry in "${plan[@]}"; do
    IFS='|' read -r key t label truth command <<<"$entry"
    [ "$t" = "$target" ] || continue
    m=$(median "$scratch/$key.ms")
    verdict=-
    if [ "$truth" != - ]; then
      good=$(grep -c yes "$scratch/$key.truth" || true)
      verdict="yes ($good of $runs)"
      [ "$good" -eq "$runs" ] || verdict="NO ($good of $runs; up to $(largest "$scratch/$key.off") rows missed)"
    fi
    [ ! -f "$scratch/$key.failed" ] || verdict="$verdict, FAILED $(wc -l <"$scratch/$key.failed") runs"
    printf '%-16s %-28s %10d %8s %12d  %s\n' "$target" "$label" "$m" \
      "$(awk -v m="$m" -v r="$ref" 'BEGIN { printf "%.2f", (r > 0 ? m / r : 0) }')" \
      "$(largest "$scratch/$key.rss")" "$verdict"
  done
done
echo
for entry in "${plan[@]}"; do
  IFS='|' read -r key target label truth command <<<"$entry"
  echo "  $label, $target: ${command#env XDG_CONFIG_HOME=$scratch/config }"
  [ ! -f "$scratch/$key.failed" ] || sed 's/^/    /' "$scratch/$key.failed" | head -n 3
  [ ! -s "$scratch/$key.diff" ] || {
    echo "    first differences in the last run that differed (< truth, > vopal-scan):"
    head -n 5 "$scratch/$key.diff" | sed 's/^/    /'
  }
done
for note in "${notes[@]}"; do echo "  $note"; done
echo "  ratio: median / the fastest peer's median (nbtscan, nmap -sn) of the target"
echo "  $runs runs per tool and target, side by side, neighbour table flushed before each"
