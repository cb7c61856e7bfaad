#!/usr/bin/env bash
# vopal-scan beside its peers on the test LAN, from inside the client
# namespace: the LAN's /24 (198.18.0.0/24, with the quiet hosts: a firewall
# that drops ping, one that drops all of IPv4, a closed UDP 137, a late
# node-status answer) and the routed prefix (198.19.0.0/16, where every
# address answers ping and the even ones have names).
# Each tool runs side by side with the others, `runs` times (default 3), each
# run from an empty neighbour table. Prints per tool and target the live
# hosts found (of the hosts the layout holds), the names found (of the hosts
# that answer node status), the median wall time, the false positives
# (addresses reported that hold no host) and the largest resident memory (GNU
# time). Found and false positives show a range when the runs differ.
#
# Tools: vopal-scan with no options (its default engine), the same recording
# into an inventory on the routed prefix (--db), vopal-scan --engine
# threads (on the /24, and on a routed prefix of at most a /20: one thread per
# probe spends a minute and more on a /16, which says nothing new), and where
# installed (scripts/setup --bench; the tests never use
# them) nbtscan, nmap -sn as root and nmap -sn --unprivileged as a throwaway
# user. They run only here, against the test LAN.
#
# Not a test: it prints figures. Needs root: it brings the test LAN up and
# down, holding its lock like the LAN tests do.
#
# usage: bench/peers.sh [--loss PERCENT] [--limit RATE] [--only lan|wide] [runs]
#
#   --loss PERCENT  the client loses that share of the IPv4 packets it
#                   receives and of the ARP frames either way, at random
#                   (testlan.sh loss)
#   --limit RATE    the routed host sends at most RATE node-status answers a
#                   second (testlan.sh limit)
#   --only TARGET   the LAN's /24 (lan) or the routed prefix (wide) alone
# Under loss or a limit, only vopal-scan's default, nmap -sn (root) and
# nbtscan run, side by side.
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
loss=0 limit=none only=
while [ $# -gt 1 ]; do
  case $1 in
  --loss) loss=$2 ;;
  --limit) limit=$2 ;;
  --only) only=$2 ;;
  *) echo "bench: unknown option $1" >&2; exit 2 ;;
  esac
  shift 2
done
runs=${1:-3}
[[ $loss =~ ^[0-9]{1,2}$ ]] || { echo "bench: --loss takes a percentage from 0 to 99" >&2; exit 2; }
[ "$limit" = none ] || [[ $limit =~ ^[1-9][0-9]{0,6}$ ]] || { echo "bench: --limit takes a rate" >&2; exit 2; }
case $only in "" | lan | wide) ;; *) echo "bench: --only takes lan or wide" >&2; exit 2 ;; esac
degraded=0
[ "$loss" -eq 0 ] && [ "$limit" = none ] || degraded=1
[[ $runs =~ ^[1-9][0-9]?$ ]] || { echo "bench: runs must be a number from 1 to 99" >&2; exit 2; }

say() { printf 'bench: %s\n' "$*" >&2; }
# Only ever inside the client namespace, whose one way out is the test LAN.
ip -4 -o addr show | grep -q ' inet 198\.18\.0\.1/24 ' && [ -z "$(ip -4 route show default)" ] ||
  { say "not inside the test LAN's client namespace"; exit 1; }
[ -x /usr/bin/time ] || { say "GNU time is missing (package time: scripts/setup --test)"; exit 1; }

conf=${KD_TESTLAN_CONF:-$PWD/tests/lan/testlan.conf}
lan=198.18.0.0/24
wide=$(awk '$1 == "wide" { print $4 }' "$conf")
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir "$scratch/config" # an empty settings store: the stored defaults apply

# What the layout holds, one address a line, per target:
#   live-T    the hosts a scan of T should find (of the prefix: every address
#             but those with a last octet 0 or 255: 65024 of a /16)
#   named-T   those that answer node status with a name
#   held-T    every address that answers at all (of the prefix: all of it);
#             a report outside it is a false positive
awk '!/^[[:space:]]*#/ && NF >= 6 && $1 != "silent" { print $2 }' "$conf" | sort >"$scratch/live-lan"
awk '!/^[[:space:]]*#/ && ($1 == "nmbd" || $1 == "noping" || $1 == "slow") { print $2 }' "$conf" |
  sort >"$scratch/named-lan"
cp "$scratch/live-lan" "$scratch/held-lan"
targets=()
[ "$only" = wide ] || targets+=("$lan")
if [ -n "$wide" ]; then
  [ "$only" = lan ] || targets+=("$wide")
  awk -v prefix="$wide" 'BEGIN {
    split(prefix, p, "/"); split(p[1], o, ".")
    base = ((o[1] * 256 + o[2]) * 256 + o[3]) * 256 + o[4]; size = 2 ^ (32 - p[2])
    for (a = base; a < base + size; a++) {
      d = a % 256; c = int(a / 256) % 256
      text = o[1] "." o[2] "." c "." d
      print text > "'"$scratch"'/held-wide"
      if (d != 0 && d != 255) {
        print text > "'"$scratch"'/live-wide"
        if (d % 2 == 0) print text > "'"$scratch"'/named-wide"
      }
    }
  }'
  for f in held live named; do sort -o "$scratch/$f-wide" "$scratch/$f-wide"; done
fi
# The prefix's length: the thread engine runs on at most a /20 of it.
wide_bits=${wide#*/}
target_name() { [ "$1" = "$lan" ] && echo lan || echo wide; }

scan=(env "XDG_CONFIG_HOME=$scratch/config" "${KD_BENCH_VOPAL_SCAN:-build/vopal-scan}")
# vopal-scan exits 2 on an option it does not know.
engines=1
"${scan[@]}" --engine threads --help >/dev/null 2>&1 || engines=0

# A user of no account, for the unprivileged peer: no capability, no group.
throwaway=
for uid in $(seq 64900 64999); do
  getent passwd "$uid" >/dev/null || getent group "$uid" >/dev/null || { throwaway=$uid; break; }
done
mkdir -m 1777 "$scratch/home"
as_throwaway=(setpriv "--reuid=$throwaway" "--regid=$throwaway" --clear-groups --inh-caps=-all
  env -i "HOME=$scratch/home" PATH=/usr/bin:/bin)

# One line per tool and target: key|target|label|parser|command.
plan=()
add() { plan+=("$1|$2|$3|$4|$5"); }
for target in "${targets[@]}"; do
  name=$(target_name "$target")
  threads=(--threads 15)
  [ "$name" = wide ] && threads=(--threads 1000)
  add "default-$name" "$target" "vopal-scan" vopal "${scan[*]} $target"
  # The same, recording into a store that holds the runs before: the
  # difference in wall time is what recording a scan costs.
  [ "$name" = wide ] && [ "$degraded" -eq 0 ] && add "db-$name" "$target" "vopal-scan --db" vopal \
    "${scan[*]} --db $scratch/inventory.sqlite $target"
  if [ "$engines" -eq 1 ] && [ "$degraded" -eq 0 ] && { [ "$name" = lan ] || [ "$wide_bits" -ge 20 ]; }; then
    add "threads-$name" "$target" "vopal-scan --engine threads" vopal \
      "${scan[*]} --engine threads ${threads[*]} --timeout 1000 $target"
  fi
  if command -v nbtscan >/dev/null; then
    add "nbtscan-$name" "$target" "nbtscan" nbtscan "nbtscan -t 1000 $target"
  fi
  if command -v nmap >/dev/null; then
    add "nmap-$name" "$target" "nmap -sn (root)" nmap "nmap -sn -n $target"
    if [ -n "$throwaway" ] && [ "$degraded" -eq 0 ]; then
      add "nmapu-$name" "$target" "nmap -sn --unprivileged" nmap \
        "${as_throwaway[*]} nmap -sn -n --unprivileged $target"
    fi
  fi
done

# "address name" per host a tool reported, name "-" where it gave none.
parse() { # parser output
  case $1 in
  vopal) # CSV in the export layout: a title line, then address, mark, computer, ...
    tail -n +2 "$2" | tr -d '\r' | awk -F, 'NF >= 3 && $2 != "×" { print $1, ($3 == "" ? "-" : $3) }' ;;
  nbtscan) # address, name (or <unknown>), ...
    awk '$1 ~ /^[0-9]+\.[0-9]+\.[0-9]+\.[0-9]+$/ {
      n = ($2 == "<unknown>" || $2 ~ /^(Sendto|Recvfrom)/) ? "-" : $2; print $1, n }' "$2" ;;
  nmap) # no names with -sn -n
    awk '/^Nmap scan report for / { print $5, "-" }' "$2" ;;
  esac | sort -u -k1,1
}

measure() { # key target parser command
  local key=$1 name parser=$3 command=$4 start end status=0
  name=$(target_name "$2")
  ip neigh flush all >/dev/null 2>&1 || true
  start=$(date +%s%N)
  # shellcheck disable=SC2086 # the command line is ours, split on blanks
  /usr/bin/time -f %M -o "$scratch/rss" $command >"$scratch/out" 2>"$scratch/err" || status=$?
  end=$(date +%s%N)
  echo $(((end - start) / 1000000)) >>"$scratch/$key.ms"
  tail -n 1 "$scratch/rss" >>"$scratch/$key.rss" # after "exited with ..." when it failed
  [ "$status" -eq 0 ] || echo "$command: exit $status: $(head -c 300 "$scratch/err")" >>"$scratch/$key.failed"
  parse "$parser" "$scratch/out" >"$scratch/found"
  awk '{ print $1 }' "$scratch/found" | sort >"$scratch/found-addresses"
  awk '$2 != "-" { print $1 }' "$scratch/found" | sort >"$scratch/found-named"
  comm -12 "$scratch/found-addresses" "$scratch/live-$name" | wc -l >>"$scratch/$key.live"
  comm -12 "$scratch/found-named" "$scratch/named-$name" | wc -l >>"$scratch/$key.names"
  comm -23 "$scratch/found-addresses" "$scratch/held-$name" >"$scratch/$key.fp-last"
  wc -l <"$scratch/$key.fp-last" >>"$scratch/$key.fp"
  comm -13 "$scratch/found-addresses" "$scratch/live-$name" >"$scratch/$key.missed-last"
}

# The conditions, for the whole run; the LAN is taken down after it anyway.
condition="clean"
if [ "$loss" -gt 0 ]; then
  scripts/testlan.sh loss ip "$loss" && scripts/testlan.sh loss arp "$loss" || exit 1
  condition="$loss % of replies and ARP frames lost"
fi
if [ "$limit" != none ]; then
  scripts/testlan.sh limit "$limit" || exit 1
  condition="$condition, at most $limit node-status answers a second from the routed host"
  [ "$loss" -gt 0 ] || condition=${condition#clean, }
fi
say "condition: $condition"

for run in $(seq 1 "$runs"); do
  for entry in "${plan[@]}"; do
    IFS='|' read -r key target label parser command <<<"$entry"
    measure "$key" "$target" "$parser" "$command"
    printf 'run %d: %-28s %-16s %6d ms\n' "$run" "$label" "$target" "$(tail -n 1 "$scratch/$key.ms")" >&2
  done
done

median() { sort -n "$1" | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }'; }
largest() { sort -n "$1" | tail -n 1; }
# "n", or "low-high" when the runs differ.
spread() { sort -n "$1" | awk 'NR == 1 { lo = $1 } { hi = $1 } END { print (lo == hi ? lo : lo "-" hi) }'; }

echo
echo "condition: $condition"
printf '%-16s %-26s %12s %12s %10s %10s %12s\n' target tool "live hosts" names "median ms" "false pos." "max RSS KiB"
for target in "${targets[@]}"; do
  name=$(target_name "$target")
  live_total=$(wc -l <"$scratch/live-$name")
  named_total=$(wc -l <"$scratch/named-$name")
  for entry in "${plan[@]}"; do
    IFS='|' read -r key t label parser command <<<"$entry"
    [ "$t" = "$target" ] || continue
    printf '%-16s %-26s %12s %12s %10d %10s %12d%s\n' "$target" "$label" \
      "$(spread "$scratch/$key.live")/$live_total" "$(spread "$scratch/$key.names")/$named_total" \
      "$(median "$scratch/$key.ms")" "$(spread "$scratch/$key.fp")" "$(largest "$scratch/$key.rss")" \
      "$([ ! -f "$scratch/$key.failed" ] || echo ", FAILED $(wc -l <"$scratch/$key.failed") runs")"
  done
done
echo
for entry in "${plan[@]}"; do
  IFS='|' read -r key target label parser command <<<"$entry"
  echo "  $label, $target: ${command#env XDG_CONFIG_HOME=$scratch/config }"
  [ ! -f "$scratch/$key.failed" ] || sed 's/^/    /' "$scratch/$key.failed" | head -n 3
  missed=$(wc -l <"$scratch/$key.missed-last")
  if [ "$target" = "$lan" ] && [ "$missed" -gt 0 ]; then
    echo "    not found in the last run: $(tr '\n' ' ' <"$scratch/$key.missed-last")"
  fi
  [ ! -s "$scratch/$key.fp-last" ] ||
    echo "    false positives in the last run: $(head -n 5 "$scratch/$key.fp-last" | tr '\n' ' ')"
done
[ -n "$throwaway" ] || echo "  no free uid for the unprivileged nmap: it did not run"
if [ -n "$wide" ] && [ "$engines" -eq 1 ] && [ "$wide_bits" -lt 20 ]; then
  echo "  vopal-scan --engine threads: not run on $wide (one thread per probe; too slow"
  echo "  beyond a /20, and a smaller share of it would not be the same target)"
fi
echo "  live hosts: of the hosts the layout ($conf) holds in the target, the client"
echo "  included; names: of those that answer node status; $runs runs per tool and target,"
echo "  side by side, neighbour table flushed before each; medians of the wall time"
# The goals on the routed prefix: the default invocation in at most half the
# time of nmap -sn (root) in the same runs, under 64 MB, every row and name;
# recording into an inventory adds at most 0.5 s (from the second run on,
# the store holds the runs before).
if [ -n "$wide" ] && [ -f "$scratch/default-wide.ms" ] && [ "$limit" != none ]; then
  # Under the limit, the least time: the names at the limit's rate.
  echo
  awk -v v="$(median "$scratch/default-wide.ms")" -v n="$(wc -l <"$scratch/named-wide")" \
    -v r="$limit" 'BEGIN { b = 1000 * n / r
      printf "limit: vopal-scan %d ms, %.1fx the %d ms that %d names at %d a second take\n", v, v / b, b, n, r }'
  echo "goal: every row and name: $(spread "$scratch/default-wide.live")/$(wc -l <"$scratch/live-wide") rows," \
    "$(spread "$scratch/default-wide.names")/$(wc -l <"$scratch/named-wide") names"
elif [ -n "$wide" ] && [ -f "$scratch/default-wide.ms" ] && [ "$degraded" -eq 0 ]; then
  echo
  default_ms=$(median "$scratch/default-wide.ms")
  if [ -f "$scratch/nmap-wide.ms" ]; then
    awk -v v="$default_ms" -v n="$(median "$scratch/nmap-wide.ms")" 'BEGIN {
      printf "goal: vopal-scan at most 0.5x nmap -sn on the prefix: %.2fx (%d ms against %d ms)\n", v / n, v, n }'
  fi
  echo "goal: under 64 MB: $(largest "$scratch/default-wide.rss") KiB at most"
  echo "goal: every row and name: $(spread "$scratch/default-wide.live")/$(wc -l <"$scratch/live-wide") rows," \
    "$(spread "$scratch/default-wide.names")/$(wc -l <"$scratch/named-wide") names"
  if [ -f "$scratch/db-wide.ms" ] && [ "$runs" -gt 1 ]; then
    tail -n +2 "$scratch/db-wide.ms" >"$scratch/db-later.ms"
    echo "goal: recording adds at most 500 ms: $(($(median "$scratch/db-later.ms") - default_ms)) ms" \
      "(median of the runs into a store that held the runs before)"
  fi
fi
