#!/usr/bin/env bash
# Names from every source beside nmap -sn and nbtscan on the test LAN, from
# inside the client namespace. On the LAN's /24 (198.18.0.0/24: nmbd hosts,
# hosts named over mDNS, LLMNR or in the LAN's DNS server, a hostile LLMNR
# responder, a gadget with no name) each tool runs side by side with the
# others, `runs` times (default 3), each run from an empty neighbour table:
#
#   vopal-scan (its default: NetBIOS, mDNS, LLMNR and DNS), vopal-scan
#   --names netbios, vopal-scan -n (no resolver), nmap -sn as root (its
#   reverse DNS: "Nmap scan report for NAME (ADDRESS)") and nbtscan -q
#   (NetBIOS names);
#   vopal-scan with a dead resolver: a resolver configuration naming an
#   address of the LAN that never answers (by default the host that drops all
#   of IPv4), bind-mounted over /etc/resolv.conf in a mount namespace of that
#   one command, beside -n in the same runs.
#
# Then the routed prefix (198.19.0.0/16: the even last octets have NetBIOS
# names, the DNS server says NXDOMAIN for every one): vopal-scan's default
# beside nmap -sn, both asking the DNS.
#
# vopal-scan runs on a pseudo terminal (script), where it prints its table:
# one name a host, its best, with the source in parentheses. Prints per tool
# the hosts named (of those the layout gives a name anywhere), the names found
# per source, the false names (a name for an address the layout gives none,
# or one the layout does not give it from that source), the rows (of the hosts
# the layout holds) and false rows (addresses that hold nothing), the median
# wall time and the largest resident memory (GNU time). A range when the runs
# differ.
#
# Not a test: it prints figures. Needs root: it brings the test LAN up and
# down, holding its lock like the LAN tests do. nmap and nbtscan come from
# scripts/setup --bench; the tests never use them. They run only here,
# against the test LAN.
#
# usage: bench/names.sh [--only lan|wide] [--skip-nmap-wide]
#                       [--dead-resolver ADDRESS] [runs]
#
#   --only TARGET          the LAN's /24 (lan) or the routed prefix (wide) alone
#   --skip-nmap-wide       no nmap -sn on the routed prefix (minutes a run)
#   --dead-resolver ADDR   the server the dead resolver configuration names: an
#                          address of the /24 that answers nothing (an arponly
#                          or silent host, or one the layout does not hold);
#                          default the first arponly host
# KD_BENCH_VOPAL_SCAN names another vopal-scan (default: build/vopal-scan).
set -euo pipefail
cd "$(dirname "$0")/.."

responder=$PWD/build/tests/lan/nbns_responder
if [ "${1:-}" != --inside ]; then
  [ "$(id -u)" -eq 0 ] || { echo "bench: needs root (network namespaces)" >&2; exit 1; }
  [ -x "${KD_BENCH_VOPAL_SCAN:-build/vopal-scan}" ] && [ -x "$responder" ] || scripts/build
  export KD_TESTLAN_RESPONDER=$responder
  exec tests/lan/run-in-testlan.sh "$PWD/bench/names.sh" --inside "$@"
fi
shift
only='' skip_nmap_wide=0 dead=''
while [ $# -gt 0 ] && [[ $1 == --* ]]; do
  case $1 in --only | --dead-resolver) [ $# -ge 2 ] || { echo "bench: $1 takes a value" >&2; exit 2; } ;; esac
  case $1 in
  --only) only=${2:-}; shift ;;
  --skip-nmap-wide) skip_nmap_wide=1 ;;
  --dead-resolver) dead=${2:-}; shift ;;
  *) echo "bench: unknown option $1" >&2; exit 2 ;;
  esac
  shift
done
runs=${1:-3}
[ $# -le 1 ] || { echo "bench: one number of runs at most" >&2; exit 2; }
case $only in "" | lan | wide) ;; *) echo "bench: --only takes lan or wide" >&2; exit 2 ;; esac
[[ $runs =~ ^[1-9][0-9]?$ ]] || { echo "bench: runs must be a number from 1 to 99" >&2; exit 2; }

say() { printf 'bench: %s\n' "$*" >&2; }
# Only ever inside the client namespace, whose one way out is the test LAN.
ip -4 -o addr show | grep -q ' inet 198\.18\.0\.1/24 ' && [ -z "$(ip -4 route show default)" ] ||
  { say "not inside the test LAN's client namespace"; exit 1; }
[ -x /usr/bin/time ] || { say "GNU time is missing (package time: scripts/setup --test)"; exit 1; }
command -v script >/dev/null || { say "script (package bsdutils) is missing"; exit 1; }
command -v unshare >/dev/null || { say "unshare (package util-linux) is missing"; exit 1; }

conf=${KD_TESTLAN_CONF:-$PWD/tests/lan/testlan.conf}
lan=198.18.0.0/24
wide=$(awk '$1 == "wide" { print $4 }' "$conf")
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir "$scratch/config" # an empty settings store: the stored defaults apply

# The dead resolver's server: quiet, and on the /24, so that its queries go
# nowhere but into the test LAN.
[ -n "$dead" ] || dead=$(awk '$1 == "arponly" { print $2; exit }' "$conf")
[[ $dead =~ ^198\.18\.0\.([1-9][0-9]?|1[0-9][0-9]|2[0-4][0-9]|25[0-4])$ ]] ||
  { say "--dead-resolver takes an address of $lan (198.18.0.1 to 198.18.0.254)"; exit 2; }
dead_role=$(awk -v a="$dead" '!/^[[:space:]]*#/ && $2 == a { print $1 }' "$conf")
case $dead_role in "" | arponly | silent) ;; *)
  say "--dead-resolver: $dead is a $dead_role host, which answers; take an arponly or silent one"
  exit 2
  ;;
esac
printf 'nameserver %s\n' "$dead" >"$scratch/dead-resolv.conf"

# The truth, one line per name: "address source:name" in lower case (names
# are compared without case, as DNS does), from the layout's name and
# aliases (NetBIOS, for the hosts running nmbd or our responder) and names
# columns. The hostile host's LLMNR answer is read as what it names: in the
# layout's other-address mode a record for another address, which names
# nothing.
awk '!/^[[:space:]]*#/ && NF >= 6 {
  role = $1; a = $2
  if (role ~ /^(nmbd|noping|slow|nmbd-named)$/) {
    print a, "netbios:" tolower($4)
    if ($6 != "-") { n = split($6, alias, ","); for (i = 1; i <= n; i++) print a, "netbios:" tolower(alias[i]) }
  }
  if (NF < 7 || $7 == "-") next
  if (role == "hostile" && $4 != "honest") {
    if ($4 != "other-address") { print "unjudged", a, $4; exit 1 }
    next
  }
  n = split($7, other, ",")
  for (i = 1; i <= n; i++) { c = index(other[i], ":"); print a, substr(other[i], 1, c - 1) ":" tolower(substr(other[i], c + 1)) }
}' "$conf" >"$scratch/truth-lan" ||
  { say "the hostile host's mode is not one this bench judges: $(grep unjudged "$scratch/truth-lan")"; exit 1; }
awk '!/^[[:space:]]*#/ && NF >= 6 && $1 != "silent" { print $2 }' "$conf" | sort >"$scratch/live-lan"
cp "$scratch/live-lan" "$scratch/held-lan"
targets=()
[ "$only" = wide ] || targets+=("$lan")
if [ -n "$wide" ] && [ "$only" != lan ]; then
  targets+=("$wide")
  # Every address of the prefix answers; rows for all but the last octets 0
  # and 255; the even ones are named by node status as W<third><fourth> in hex.
  awk -v prefix="$wide" -v dir="$scratch" 'BEGIN {
    split(prefix, p, "/"); split(p[1], o, ".")
    base = ((o[1] * 256 + o[2]) * 256 + o[3]) * 256 + o[4]; size = 2 ^ (32 - p[2])
    for (a = base; a < base + size; a++) {
      d = a % 256; c = int(a / 256) % 256
      text = o[1] "." o[2] "." c "." d
      print text > (dir "/held-wide")
      if (d != 0 && d != 255) {
        print text > (dir "/live-wide")
        if (d % 2 == 0) printf "%s netbios:w%02x%02x\n", text, c, d > (dir "/truth-wide")
      }
    }
  }'
fi
target_name() { [ "$1" = "$lan" ] && echo lan || echo wide; }
for name in lan wide; do
  [ -f "$scratch/truth-$name" ] || continue
  awk '{ print $1 }' "$scratch/truth-$name" | sort -u >"$scratch/named-$name"
  for f in live held; do sort -o "$scratch/$f-$name" "$scratch/$f-$name"; done
done

vopal=${KD_BENCH_VOPAL_SCAN:-build/vopal-scan}
[ -x "$vopal" ] || { say "no $vopal"; exit 1; }
# vopal-scan exits 2 on an option it does not know: a build without sources.
"$vopal" --names netbios --help >/dev/null 2>&1 || { say "$vopal has no --names"; exit 1; }

# One line per tool and target: key|target|label|kind|arguments. Kinds: vopal
# (on a pseudo terminal), dead (the same under the dead resolver), nmap,
# nbtscan.
plan=()
add() { plan+=("$1|$2|$3|$4|$5"); }
for target in "${targets[@]}"; do
  name=$(target_name "$target")
  add "default-$name" "$target" "vopal-scan" vopal "$target"
  if [ "$name" = lan ]; then
    add "netbios-$name" "$target" "vopal-scan --names netbios" vopal "--names netbios $target"
    add "nodns-$name" "$target" "vopal-scan -n" vopal "-n $target"
    add "dead-$name" "$target" "vopal-scan, dead resolver" dead "$target"
    if command -v nbtscan >/dev/null; then
      add "nbtscan-$name" "$target" "nbtscan -q" nbtscan "nbtscan -q $target"
    fi
  fi
  if command -v nmap >/dev/null && { [ "$name" = lan ] || [ "$skip_nmap_wide" -eq 0 ]; }; then
    add "nmap-$name" "$target" "nmap -sn (root)" nmap "nmap -sn $target"
  fi
done

# "address source:name" per row a tool printed, "address -" for a row
# without a name.
parse() { # kind output
  case $1 in
  vopal | dead) # the table: address, mark, "name (source)" or "-", ...
    tr '\r' '\n' <"$2" | awk '$1 ~ /^[0-9]+\.[0-9]+\.[0-9]+\.[0-9]+$/ && ($2 == "○" || $2 == "×") {
      line = $0; sub(/^[^ ]+ +[^ ]+ +/, "", line)
      if (match(line, / \((netbios|mdns|llmnr|dns)\)( |$)/)) {
        source = substr(line, RSTART + 2, RLENGTH - 2); sub(/\).*/, "", source)
        print $1, source ":" tolower(substr(line, 1, RSTART - 1))
      } else print $1, "-"
    }' ;;
  nbtscan) # address, name (or <unknown>), ...
    awk '$1 ~ /^[0-9]+\.[0-9]+\.[0-9]+\.[0-9]+$/ && NF >= 2 && $2 !~ /^(Sendto|Recvfrom)/ {
      print $1, ($2 == "<unknown>" ? "-" : "netbios:" tolower($2)) }' "$2" ;;
  nmap) # "Nmap scan report for NAME (ADDRESS)" or "... for ADDRESS"
    awk '/^Nmap scan report for / {
      if (NF == 6) { a = $6; gsub(/[()]/, "", a); print a, "dns:" tolower($5) } else print $5, "-" }' "$2" ;;
  esac
}

# Per run: the named hosts, false names, rows of live hosts, false rows and
# the right names per source, a line each into the key's files.
judge() { # key name found
  awk -v key="$scratch/$1" -v out="$scratch/$1.false-last" '
    FILENAME == ARGV[1] { truth[$1 " " $2] = 1; next }
    FILENAME == ARGV[2] { live[$1] = 1; next }
    FILENAME == ARGV[3] { held[$1] = 1; next }
    {
      if (!($1 in seen)) { seen[$1] = 1; if ($1 in live) rows++; else if (!($1 in held)) fp++ }
      if ($2 == "-") next
      if (($1 " " $2) in truth) {
        if (!($1 in named)) { named[$1] = 1; n++ }
        split($2, s, ":"); src[s[1]]++
      } else { bad++; print $1, $2 > out }
    }
    END {
      print n + 0 >> (key ".named"); print bad + 0 >> (key ".false")
      print rows + 0 >> (key ".rows"); print fp + 0 >> (key ".fp")
      split("netbios mdns llmnr dns", all, " ")
      for (i = 1; i <= 4; i++) print src[all[i]] + 0 >> (key ".src-" all[i])
    }' "$scratch/truth-$2" "$scratch/live-$2" "$scratch/held-$2" "$3"
}

measure() { # key target kind arguments
  local key=$1 name kind=$3 args=$4 start end status=0 inner
  name=$(target_name "$2")
  : >"$scratch/$key.false-last"
  ip neigh flush all >/dev/null 2>&1 || true
  # The pseudo terminal's own process stays out of the memory figure.
  inner="/usr/bin/time -f %M -o $scratch/rss env XDG_CONFIG_HOME=$scratch/config $vopal $args"
  start=$(date +%s%N)
  case $kind in
  vopal) script -qec "$inner" /dev/null >"$scratch/out" 2>"$scratch/err" || status=$? ;;
  dead) # this one command sees the dead resolver; the namespace's own stays
    # shellcheck disable=SC2016 # expanded by that shell
    unshare --mount --propagation private -- sh -c 'mount --bind "$0" /etc/resolv.conf && exec "$@"' \
      "$scratch/dead-resolv.conf" script -qec "$inner" /dev/null >"$scratch/out" 2>"$scratch/err" || status=$? ;;
  *) # shellcheck disable=SC2086 # the command line is ours, split on blanks
    /usr/bin/time -f %M -o "$scratch/rss" $args >"$scratch/out" 2>"$scratch/err" || status=$? ;;
  esac
  end=$(date +%s%N)
  echo $(((end - start) / 1000000)) >>"$scratch/$key.ms"
  tail -n 1 "$scratch/rss" >>"$scratch/$key.rss" # after "exited with ..." when it failed
  [ "$status" -eq 0 ] || echo "$args: exit $status: $(head -c 300 "$scratch/err")" >>"$scratch/$key.failed"
  parse "$kind" "$scratch/out" >"$scratch/found"
  judge "$key" "$name" "$scratch/found"
}

for run in $(seq 1 "$runs"); do
  for entry in "${plan[@]}"; do
    IFS='|' read -r key target label kind args <<<"$entry"
    measure "$key" "$target" "$kind" "$args"
    printf 'run %d: %-28s %-16s %7d ms\n' "$run" "$label" "$target" "$(tail -n 1 "$scratch/$key.ms")" >&2
  done
done

median() { sort -n "$1" | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }'; }
largest() { sort -n "$1" | tail -n 1; }
# "n", or "low-high" when the runs differ.
spread() { sort -n "$1" | awk 'NR == 1 { lo = $1 } { hi = $1 } END { print (lo == hi ? lo : lo "-" hi) }'; }
sources() { # key: the right names per source, those found at all
  local s text=
  for s in netbios mdns llmnr dns; do
    [ "$(largest "$scratch/$1.src-$s")" -eq 0 ] || text="$text $s $(spread "$scratch/$1.src-$s")"
  done
  echo "${text# }"
}

echo
printf '%-16s %-26s %11s  %-30s %5s %11s %5s %9s %11s\n' target tool named "names by source" "false" rows "false" \
  "median ms" "max RSS KiB"
for target in "${targets[@]}"; do
  name=$(target_name "$target")
  for entry in "${plan[@]}"; do
    IFS='|' read -r key t label kind args <<<"$entry"
    [ "$t" = "$target" ] || continue
    printf '%-16s %-26s %11s  %-30s %5s %11s %5s %9d %11d%s\n' "$target" "$label" \
      "$(spread "$scratch/$key.named")/$(wc -l <"$scratch/named-$name")" "$(sources "$key")" \
      "$(spread "$scratch/$key.false")" "$(spread "$scratch/$key.rows")/$(wc -l <"$scratch/live-$name")" \
      "$(spread "$scratch/$key.fp")" "$(median "$scratch/$key.ms")" "$(largest "$scratch/$key.rss")" \
      "$([ ! -f "$scratch/$key.failed" ] || echo ", FAILED $(wc -l <"$scratch/$key.failed") runs")"
  done
done
echo
for entry in "${plan[@]}"; do
  IFS='|' read -r key target label kind args <<<"$entry"
  case $kind in
  vopal) echo "  $label, $target: vopal-scan $args (on a pseudo terminal)" ;;
  dead) echo "  $label, $target: vopal-scan $args, /etc/resolv.conf 'nameserver $dead' ($dead_role)" ;;
  *) echo "  $label, $target: $args" ;;
  esac
  [ ! -f "$scratch/$key.failed" ] || sed 's/^/    /' "$scratch/$key.failed" | head -n 3
  [ ! -s "$scratch/$key.false-last" ] ||
    echo "    false names in the last run: $(head -n 5 "$scratch/$key.false-last" | tr '\n' ' ')"
done
echo "  named: hosts with a right name of those the layout ($conf) names anywhere;"
echo "  false (names): rows whose name the layout does not give the host from that source"
if [ "$only" != wide ]; then
  echo "  the layout names by source:"
  echo "  $(awk '{ split($2, s, ":"); if (!(($1 " " s[1]) in seen)) { seen[$1 " " s[1]] = 1; n[s[1]]++ } }
    END { split("netbios mdns llmnr dns", all, " "); for (i = 1; i <= 4; i++) printf "%s %d, ", all[i], n[all[i]] }' \
    "$scratch/truth-lan" | sed 's/, $//') hosts on the /24 (vopal-scan's table shows a host's best name only)"
fi
[ ! -f "$scratch/truth-wide" ] ||
  echo "  on $wide: NetBIOS names for the even last octets, none in the DNS (NXDOMAIN)"
echo "  rows: of the hosts the layout holds; false (rows): rows of addresses that hold nothing;"
echo "  $runs runs per tool, side by side, neighbour table flushed before each; medians of the wall time"
if [ -f "$scratch/dead-lan.ms" ]; then
  echo
  dead_ms=$(median "$scratch/dead-lan.ms") nodns_ms=$(median "$scratch/nodns-lan.ms")
  echo "dead resolver ($dead): median $dead_ms ms against $nodns_ms ms with -n in the same runs:" \
    "$((dead_ms - nodns_ms)) ms more (runs $(spread "$scratch/dead-lan.ms") and $(spread "$scratch/nodns-lan.ms") ms);" \
    "false names $(spread "$scratch/dead-lan.false")," \
    "false rows $(spread "$scratch/dead-lan.fp"), rows $(spread "$scratch/dead-lan.rows")/$(wc -l <"$scratch/live-lan")"
fi
if [ -f "$scratch/default-wide.ms" ] && [ -f "$scratch/nmap-wide.ms" ]; then
  awk -v v="$(median "$scratch/default-wide.ms")" -v n="$(median "$scratch/nmap-wide.ms")" \
    -v vr="$(spread "$scratch/default-wide.ms")" -v nr="$(spread "$scratch/nmap-wide.ms")" 'BEGIN {
    printf "routed prefix: vopal-scan %d ms against nmap -sn %d ms (%.2fx); runs %s and %s ms\n", v, n, v / n, vr, nr }'
fi
