#!/usr/bin/env bash
# The test LAN: hosts in network namespaces on 198.18.0.0/24, and a prefix
# routed beside it, laid out by tests/lan/testlan.conf.
#
#   testlan.sh up       build it (again) and wait until every nmbd host answers
#   testlan.sh down     remove everything, also what a failed `up` left behind
#   testlan.sh status   show what exists; exit 0 only when the LAN is fully up
#   testlan.sh check    read the layout only: exit 0 when it is good, else say
#                       what is wrong with it (no root needed)
#   testlan.sh unplug ADDRESS       take a host off the LAN (its link goes down)
#   testlan.sh plug ADDRESS         put it back (its link comes up again)
#   testlan.sh rename ADDRESS NAME  restart an nmbd host under another name and
#                                   wait until it answers with it
#   testlan.sh move ADDRESS TO      give an nmbd host (known by its address in
#                                   the layout) the LAN address TO instead, as
#                                   a laptop carried to another office; TO =
#                                   ADDRESS takes it home again
#   testlan.sh reject     the wide host answers for every odd address (last
#                         octet odd) of every odd /24 of its prefix (third
#                         octet odd) with ICMP errors from its own
#                         address, as a router does for hosts that are gone:
#                         echo requests get host unreachable, UDP 137 port
#                         unreachable. The even /24s answer as before.
#   testlan.sh unreject   the whole prefix answers again (`up` does this too)
#   testlan.sh block ADDRESS nbstat|ip|none
#                         a host's own firewall drops node-status queries
#                         (nbstat), every IPv4 packet so that only ARP answers
#                         (ip), or nothing any more (none)
#   testlan.sh loss ip|arp PERCENT
#                         the client loses that share of what reaches it, at
#                         random: IPv4 packets it receives (ip), or ARP frames
#                         either way (arp); 0 ends it
#   testlan.sh arpdrop ADDRESS|none
#                         the client loses every other ARP request it sends
#                         for ADDRESS, the first one first: the host is found
#                         only by the kernel's next solicitation
#   testlan.sh limit RATE|none
#                         the wide host sends at most RATE node-status answers
#                         a second and drops the rest, as a busy responder or a
#                         firewall that limits UDP 137 does; none ends it
#   testlan.sh hostile [MODE]
#                         the hostile host's LLMNR responder answers as MODE
#                         says from now on: honest, other-address, thousand,
#                         loop, long-name or control (tests/lan/LlmnrResponder.h);
#                         without MODE, and at `up`, as the layout says
#
# Layout: a switch namespace holds a bridge; every host (the client included)
# has its own namespace with one veth whose other end is a bridge port. The
# root namespace has no leg in the LAN, and the client namespace has no route
# but the connected 198.18.0.0/24 and the routed prefix below, so nothing can
# leave.
#
# Quiet hosts (noping, arponly, closed) keep their firewall in an nftables
# table of their own namespace; the slow host's node-status answers come from
# our responder (--host), 600 ms late.
#
# The wide host (kd-wide) holds a whole prefix of the test range (e.g.
# 198.19.0.0/16) as a local route, so every address of it answers ping, and
# runs our node-status responder for it; the client's one other route is that
# prefix through the wide host. Thousands of hosts for the price of one.
#
# Names from other sources than NetBIOS (the layout's names column): a host
# with an mDNS name runs avahi-daemon, alone in a mount namespace of its own
# (its /run and /etc/avahi are directories of the run directory, so that no
# file of the machine's is read or written); a host with an LLMNR name runs
# our LLMNR responder; the dns host runs dnsmasq with a PTR record for every
# DNS name of the layout and NXDOMAIN for any other reverse name. The client
# asks that server: /etc/netns/kd-client/resolv.conf, which `ip netns exec`
# puts over /etc/resolv.conf inside the client namespace only, exists while
# the LAN is up.
#
# Needs root. KD_TESTLAN_CONF names another layout file, KD_TESTLAN_RUN another
# run directory (nmbd's configuration, state and logs), KD_TESTLAN_RESPONDER
# the responder (default: build/tests/lan/nbns_responder of this tree),
# KD_TESTLAN_LLMNR the LLMNR responder (build/tests/lan/llmnr_responder).
set -uo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
conf=${KD_TESTLAN_CONF:-$here/../tests/lan/testlan.conf}
run=${KD_TESTLAN_RUN:-/run/kd-testlan}
responder=${KD_TESTLAN_RESPONDER:-$here/../build/tests/lan/nbns_responder}
llmnr_responder=${KD_TESTLAN_LLMNR:-$here/../build/tests/lan/llmnr_responder}
lockfile=/run/kd-testlan.lock
# The client's resolver configuration, there while the LAN is up; its
# directory is made and removed with it.
client_etc=/etc/netns/kd-client

switch_ns=kd-switch
bridge=kd-br
client_ns=kd-client
wide_ns=kd-wide
# nftables tables of ours: a quiet host's firewall, the wide host's rejects.
firewall_table=kd_firewall
reject_table=kd_reject
block_table=kd_block
loss_table=kd_loss
arpdrop_table=kd_arpdrop
limit_table=kd_limit
slow_delay_ms=600
subnet_prefix=198.18.0
# Every namespace of ours matches this; `down` removes exactly these.
ours='^kd-(client|switch|wide|h[0-9]{1,3})$'
# nmbd registers its names by broadcast and answers only when that is done.
ready_timeout=${KD_TESTLAN_READY_TIMEOUT:-60}

case $run in
/?*/* | /?*) [ "$run" != / ] ;;
*) false ;;
esac || {
    echo "testlan: KD_TESTLAN_RUN must be an absolute directory of its own" >&2
    exit 1
}

say() { printf 'testlan: %s\n' "$*" >&2; }
die() {
    say "$*"
    exit 1
}

roles=() addrs=() macs=() names=() groups=() aliases=() others=()
wide_index= wide_network=0 wide_length=0 dns_index=

# Roles whose hosts answer node-status queries with a name of the layout.
has_names() { [ "$1" = nmbd ] || [ "$1" = noping ] || [ "$1" = slow ] || [ "$1" = nmbd-named ]; }
# Roles that run nmbd.
runs_nmbd() { [ "$1" = nmbd ] || [ "$1" = noping ] || [ "$1" = nmbd-named ]; }
# Roles whose nmbd host may be renamed or moved: nmbd is all they run.
nmbd_only() { [ "$1" = nmbd ] || [ "$1" = noping ]; }
# Roles whose hosts may have names from other sources (the names column).
takes_others() {
    case $1 in
    named | named-noping | nmbd-named | dns | hostile) return 0 ;;
    esac
    return 1
}
# The nftables rules of a quiet host's firewall; nothing for the others.
firewall_rules() { # role
    case $1 in
    noping | closed | named-noping) echo "icmp type echo-request drop" ;;
    arponly) echo "meta nfproto ipv4 drop" ;;
    esac
}

# Whether any host of the layout has names of other sources.
any_others() {
    local other
    for other in "${others[@]}"; do [ "$other" = - ] || return 0; done
    return 1
}

# The hostile responder's modes (llmnr_responder --behave).
valid_mode() { [[ $1 =~ ^(honest|other-address|thousand|loop|long-name|control)$ ]]; }

# A DNS label: letters, digits and inner hyphens, at most 63 characters.
label_re='[A-Za-z0-9]([A-Za-z0-9-]{0,61}[A-Za-z0-9])?'
# A names column entry: mdns:LABEL.local, llmnr:LABEL or dns:LABEL.LABEL...
valid_other() { # source:name
    case $1 in
    mdns:*) [[ ${1#mdns:} =~ ^${label_re}\.local$ ]] ;;
    llmnr:*) [[ ${1#llmnr:} =~ ^${label_re}$ ]] ;;
    dns:*) [[ ${1#dns:} =~ ^${label_re}(\.${label_re})+$ ]] && ((${#1} - 4 <= 255)) ;;
    *) false ;;
    esac
}

# The names of one source of host `index`, one a line, without the source.
others_of() { # index source
    local entry
    [ "${others[$1]}" != - ] || return 0
    for entry in ${others[$1]//,/ }; do
        [ "${entry%%:*}" != "$2" ] || echo "${entry#*:}"
    done
}

valid_name() { [[ $1 =~ ^[A-Z0-9][A-Z0-9_-]{0,14}$ ]]; }

dotted() { # number
    printf '%d.%d.%d.%d' $(($1 >> 24 & 255)) $(($1 >> 16 & 255)) $(($1 >> 8 & 255)) $(($1 & 255))
}

# A routed prefix: inside 198.18.0.0/15, /16 to /30, no host bits, beside
# (not over or inside) the LAN's /24. Sets wide_network and wide_length.
parse_prefix() { # text
    [[ $1 =~ ^198\.(18|19)\.(0|[1-9][0-9]{0,2})\.(0|[1-9][0-9]{0,2})/([0-9]{2})$ ]] || return 1
    local b=${BASH_REMATCH[1]} c=${BASH_REMATCH[2]} d=${BASH_REMATCH[3]} len=$((10#${BASH_REMATCH[4]}))
    ((c <= 255 && d <= 255 && len >= 16 && len <= 30)) || return 1
    local net=$((198 << 24 | b << 16 | c << 8 | d)) host=$(((1 << (32 - len)) - 1))
    local lan=$((198 << 24 | 18 << 16))
    ((net & host)) && return 1
    ((lan >= net && lan <= net + host)) && return 1
    ((net >= lan && net <= lan + 255)) && return 1
    wide_network=$net wide_length=$len
}
wide_prefix() { echo "$(dotted "$wide_network")/$wide_length"; }
# The first address of the prefix that the responder answers for.
wide_probe() { dotted $((wide_network + 2)); }

read_conf() {
    [ -r "$conf" ] || die "cannot read the layout file $conf"
    local line role addr mac name group alias other extra n=0
    while IFS= read -r line || [ -n "$line" ]; do
        n=$((n + 1))
        line=${line%%#*}
        [[ $line =~ ^[[:space:]]*$ ]] && continue
        read -r role addr mac name group alias other extra <<<"$line"
        local where="$conf:$n"
        [ -z "${extra:-}" ] && [ -n "${alias:-}" ] || die "$where: expected 6 fields and the names column"
        other=${other:--}
        # Only addresses of the test range, never anything routable.
        [[ $addr =~ ^198\.18\.0\.([0-9]{1,3})$ ]] || die "$where: $addr is not in $subnet_prefix.0/24"
        local octet=${BASH_REMATCH[1]}
        ((10#$octet >= 1 && 10#$octet <= 254)) && [ "$octet" = "$((10#$octet))" ] ||
            die "$where: $addr is not a host address"
        case $role in
        client | nmbd | ping | silent | wide | noping | arponly | closed | slow) ;;
        named | named-noping | nmbd-named | dns | hostile) ;;
        *) die "$where: unknown role $role" ;;
        esac
        if [ "$role" = silent ]; then
            [ "$mac" = - ] || die "$where: a silent address has no adapter"
        else
            [[ $mac =~ ^[0-9a-f][26ae](:[0-9a-f]{2}){5}$ ]] ||
                die "$where: $mac is not a locally administered unicast MAC"
        fi
        if has_names "$role"; then
            valid_name "$name" || die "$where: bad NetBIOS name $name"
            valid_name "$group" || die "$where: bad workgroup $group"
            if [ "$alias" != - ]; then
                local a
                for a in ${alias//,/ }; do
                    valid_name "$a" || die "$where: bad alias $a"
                done
            fi
        fi
        if [ "$role" = arponly ] || [ "$role" = closed ] || { takes_others "$role" && ! has_names "$role" &&
            [ "$role" != hostile ]; }; then
            [ "$name" = - ] && [ "$group" = - ] && [ "$alias" = - ] ||
                die "$where: a $role host has no NetBIOS name, workgroup or aliases"
        fi
        if [ "$other" != - ]; then
            takes_others "$role" || die "$where: a $role host has no names column"
            local entry source seen=" "
            for entry in ${other//,/ }; do
                valid_other "$entry" || die "$where: bad name $entry (mdns:LABEL.local, llmnr:LABEL, dns:NAME)"
                source=${entry%%:*}
                # One name of each: avahi's host name, the responder's, one PTR record.
                [[ $seen != *" $source "* ]] || die "$where: a second $source name"
                seen+="$source "
            done
        fi
        if [ "$role" = hostile ]; then
            valid_mode "$name" || die "$where: $name is no mode of the LLMNR responder"
            [ "$group" = - ] && [ "$alias" = - ] || die "$where: a hostile host has no workgroup or aliases"
            [[ $other =~ ^llmnr:[^,]+$ ]] || die "$where: a hostile host has one name: its LLMNR name"
        fi
        if [ "$role" = dns ]; then
            [ -z "$dns_index" ] || die "$where: a second dns host"
            dns_index=${#roles[@]}
        fi
        if [ "$role" = wide ]; then
            [ -z "$wide_index" ] || die "$where: a second wide host"
            parse_prefix "$name" || die "$where: $name is no prefix of 198.18.0.0/15 beside $subnet_prefix.0/24"
            [ "$group" = - ] && [ "$alias" = - ] || die "$where: a wide host has no workgroup or aliases"
            wide_index=${#roles[@]}
        fi
        local i
        for i in "${!addrs[@]}"; do
            [ "${addrs[$i]}" != "$addr" ] || die "$where: $addr is listed twice"
        done
        roles+=("$role") addrs+=("$addr") macs+=("$mac") names+=("$name")
        groups+=("$group") aliases+=("$alias") others+=("$other")
    done <"$conf"
    local clients=0 r
    for r in "${roles[@]}"; do [ "$r" = client ] && clients=$((clients + 1)); done
    [ "$clients" -eq 1 ] || die "$conf: exactly one client line is needed"
    local i
    for i in "${!roles[@]}"; do
        [ -n "$dns_index" ] || [ -z "$(others_of "$i" dns)" ] || die "$conf: DNS names need a dns host"
    done
}

octet_of() { echo "${1##*.}"; }
ns_of() { # role address
    case $1 in
    client) echo "$client_ns" ;;
    wide) echo "$wide_ns" ;;
    *) echo "kd-h$(octet_of "$2")" ;;
    esac
}
client_addr() {
    local i
    for i in "${!roles[@]}"; do [ "${roles[$i]}" = client ] && echo "${addrs[$i]}"; done
}

require_root() {
    [ "$(id -u)" -eq 0 ] || die "needs root (network namespaces)"
    command -v ip >/dev/null || die "ip (iproute2) is missing"
}

in_ns() { # namespace command...
    local ns=$1
    shift
    ip netns exec "$ns" "$@"
}

our_namespaces() { ip netns list 2>/dev/null | awk '{print $1}' | grep -E "$ours" || true; }

stop_processes_in() { # namespace
    local ns=$1 pids pid tries
    pids=$(ip netns pids "$ns" 2>/dev/null || true)
    [ -n "$pids" ] || return 0
    for pid in $pids; do kill -TERM "$pid" 2>/dev/null || true; done
    for tries in 1 2 3 4 5 6 7 8 9 10; do
        pids=$(ip netns pids "$ns" 2>/dev/null || true)
        [ -n "$pids" ] || return 0
        sleep 0.2
    done
    for pid in $pids; do kill -KILL "$pid" 2>/dev/null || true; done
    sleep 0.2
}

cmd_down() {
    require_root
    local ns
    for ns in $(our_namespaces); do
        stop_processes_in "$ns"
    done
    for ns in $(our_namespaces); do
        ip netns del "$ns" 2>/dev/null || say "could not remove namespace $ns"
    done
    remove_client_resolver
    rm -rf -- "$run"
    local left
    left=$(our_namespaces)
    [ -z "$left" ] || die "namespaces left behind: $left"
    return 0
}

# Each Samba instance keeps its files in a directory of its own: makes the
# directories and prints the smb.conf lines that name them.
samba_dirs() { # directory
    local dir=$1
    mkdir -p "$dir"/{lock,state,cache,pid,private,ncalrpc,log} || return
    cat <<EOF
    lock directory = $dir/lock
    state directory = $dir/state
    cache directory = $dir/cache
    pid directory = $dir/pid
    private dir = $dir/private
    ncalrpc dir = $dir/ncalrpc
EOF
}

write_nmbd_conf() { # index directory
    local i=$1 dir=$2
    local alias_line="" dirs
    [ "${aliases[$i]}" = - ] || alias_line="netbios aliases = ${aliases[$i]//,/ }"
    dirs=$(samba_dirs "$dir") || return
    cat >"$dir/smb.conf" <<EOF
[global]
    netbios name = ${names[$i]}
    workgroup = ${groups[$i]}
    $alias_line
    server string = test LAN host
    server role = standalone server
    interfaces = ${addrs[$i]}/24
    bind interfaces only = yes
    disable netbios = no
    # No browser elections: the name table stays the same from start to end.
    local master = no
    preferred master = no
    domain master = no
    wins support = no
    dns proxy = no
    load printers = no
    printcap name = /dev/null
$dirs
    log file = $dir/log/nmbd.log
    log level = 1
EOF
}

write_client_conf() {
    local dir=$run/client dirs
    dirs=$(samba_dirs "$dir") || return
    cat >"$dir/smb.conf" <<EOF
[global]
    netbios name = KDCLIENT
    workgroup = KDWORK
    interfaces = $(client_addr)/24
    bind interfaces only = yes
    disable netbios = no
$dirs
    log file = $dir/log/client.log
EOF
}

add_host() { # index
    local i=$1 ns port
    ns=$(ns_of "${roles[$i]}" "${addrs[$i]}")
    port=p$(octet_of "${addrs[$i]}")
    ip netns add "$ns" || return 1
    in_ns "$ns" ip link set lo up || return 1
    # Quiet hosts: no IPv6 chatter on the LAN.
    in_ns "$ns" sysctl -qw net.ipv6.conf.all.disable_ipv6=1 net.ipv6.conf.default.disable_ipv6=1 \
        >/dev/null 2>&1 || true
    # Every ICMP error is sent, however many queries arrive: no limit per
    # peer, and none for the namespace as a whole.
    in_ns "$ns" sysctl -qw net.ipv4.icmp_ratelimit=0 net.ipv4.icmp_ratemask=0 >/dev/null 2>&1 || true
    ip -n "$switch_ns" link add "$port" type veth peer name eth0 netns "$ns" || return 1
    in_ns "$ns" ip link set eth0 address "${macs[$i]}" || return 1
    ip -n "$switch_ns" link set "$port" master "$bridge" up || return 1
    in_ns "$ns" ip addr add "${addrs[$i]}/24" dev eth0 || return 1
    add_firewall "$i" || return 1
    in_ns "$ns" ip link set eth0 up || return 1
}

# A quiet host's firewall, before its link comes up: nothing gets past it.
add_firewall() { # index
    local i=$1 ns rules
    rules=$(firewall_rules "${roles[$i]}")
    [ -n "$rules" ] || return 0
    command -v nft >/dev/null || {
        say "nft (package nftables) is missing"
        return 1
    }
    ns=$(ns_of "${roles[$i]}" "${addrs[$i]}")
    in_ns "$ns" nft -f - <<EOF || return 1
table inet $firewall_table {
    chain input {
        type filter hook input priority filter; policy accept;
        $rules
    }
}
EOF
}

firewall_up() { # index
    local i=$1
    [ -n "$(firewall_rules "${roles[$i]}")" ] || return 0
    in_ns "$(ns_of "${roles[$i]}" "${addrs[$i]}")" nft list table inet "$firewall_table" >/dev/null 2>&1
}

start_nmbd() { # index
    local i=$1 ns dir
    ns=$(ns_of "${roles[$i]}" "${addrs[$i]}")
    dir=$run/$ns
    write_nmbd_conf "$i" "$dir" || return 1
    # fd 9 is the LAN lock: a daemon must not keep it.
    in_ns "$ns" nmbd -D -s "$dir/smb.conf" 9>&- || return 1
}

# True when the host's node-status answer lists its <00> names (own name,
# aliases, workgroup) and the workgroup's <1e>, all active.
nmbd_answers() { # index
    local i=$1 out n
    out=$(in_ns "$client_ns" timeout 5 nmblookup -s "$run/client/smb.conf" -A "${addrs[$i]}" 2>/dev/null) ||
        return 1
    local wanted=("${names[$i]} <00> - " "${groups[$i]} <00> - <GROUP>" "${groups[$i]} <1e> - <GROUP>")
    if [ "${aliases[$i]}" != - ]; then
        for n in ${aliases[$i]//,/ }; do wanted+=("$n <00> - "); done
    fi
    for n in "${wanted[@]}"; do
        # nmblookup pads the name to 15 columns.
        local name=${n%% *} rest=${n#* }
        grep -Eq "^[[:space:]]+${name}[[:space:]]+${rest}.*<ACTIVE>" <<<"$out" || return 1
    done
}

# True when the slow host's responder answers with its computer name. The
# answer comes late, so nmblookup gets time for it.
slow_answers() { # index
    local i=$1 out
    out=$(in_ns "$client_ns" timeout 5 nmblookup -s "$run/client/smb.conf" -A "${addrs[$i]}" 2>/dev/null) ||
        return 1
    grep -Eq "^[[:space:]]+${names[$i]}[[:space:]]+<00> - .*<ACTIVE>" <<<"$out"
}

start_slow() { # index
    local i=$1 ns
    ns=$(ns_of slow "${addrs[$i]}")
    [ -x "$responder" ] || {
        say "the node-status responder $responder is missing (build the tests, or set KD_TESTLAN_RESPONDER)"
        return 1
    }
    # fd 9 is the LAN lock: the responder must not keep it.
    in_ns "$ns" "$responder" --conf "$conf" --host "${addrs[$i]}" --delay "$slow_delay_ms" --daemon \
        9>&- </dev/null >>"$run/$ns.log" 2>&1 || return 1
    local tries
    for tries in 1 2 3; do
        slow_answers "$i" && return 0
    done
    say "the responder of ${addrs[$i]} does not answer (log in $run/$ns.log)"
    return 1
}

# True when the responder answers for the prefix: the first address that
# has names answers with the computer name that the rule gives it, active.
responder_answers() {
    local out name
    name=$("$responder" --conf "$conf" --print-truth "$(wide_probe)" 2>/dev/null | sed -n 2p | cut -d, -f3)
    [ -n "$name" ] || return 1
    out=$(in_ns "$client_ns" timeout 5 nmblookup -s "$run/client/smb.conf" -A "$(wide_probe)" 2>/dev/null) ||
        return 1
    grep -Eq "^[[:space:]]+$name[[:space:]]+<00> - .*<ACTIVE>" <<<"$out"
}

# avahi-daemon of a host with an mDNS name: its configuration, an empty
# static hosts file and services directory, and its runtime directory, all in
# the run directory. It publishes its address, and so answers the PTR query
# of its reverse name, also a legacy unicast one (from any port).
write_avahi_conf() { # index directory
    local i=$1 dir=$2 name
    name=$(others_of "$i" mdns)
    mkdir -p "$dir/etc/services" "$dir/run/avahi-daemon" && : >"$dir/etc/hosts" || return 1
    cat >"$dir/etc/avahi-daemon.conf" <<EOF
[server]
host-name=${name%.local}
domain-name=local
use-ipv4=yes
use-ipv6=no
allow-interfaces=eth0
enable-dbus=no
[wide-area]
enable-wide-area=no
[publish]
publish-addresses=yes
publish-hinfo=no
publish-workstation=no
publish-domain=no
publish-aaaa-on-ipv4=no
publish-a-on-ipv6=no
[reflector]
enable-reflector=no
EOF
}

# `ip netns exec` gives the daemon a mount namespace of its own: there the
# directories above are put over /etc/avahi and /run, so that it reads and
# writes no file of the machine's and none of another host's daemon. It
# stays in the foreground (in the background of this script), its messages
# in its log; it answers once it has probed its name (about a second).
start_avahi() { # index
    local i=$1 ns dir
    ns=$(ns_of "${roles[$i]}" "${addrs[$i]}")
    dir=$run/$ns/avahi
    command -v avahi-daemon >/dev/null && [ -d /etc/avahi ] || {
        say "avahi-daemon (package avahi-daemon) is missing"
        return 1
    }
    write_avahi_conf "$i" "$dir" || return 1
    # Not through in_ns: a function in the background would be a subshell
    # that keeps fd 9, the LAN lock, for as long as the daemon runs.
    ip netns exec "$ns" sh -c 'mount --bind "$1/etc" /etc/avahi && mount --bind "$1/run" /run &&
        exec avahi-daemon --no-drop-root --no-chroot --no-rlimits' sh "$dir" \
        9>&- </dev/null >>"$run/$ns.avahi.log" 2>&1 &
}

# The LLMNR responder of a host with an LLMNR name, in `mode` (a hostile
# host's default: the layout's); its pid and mode are kept in the run
# directory. It binds its socket before it says that it answers.
start_llmnr() { # index [mode]
    local i=$1 mode=${2:-} ns log pid tries
    ns=$(ns_of "${roles[$i]}" "${addrs[$i]}")
    if [ -z "$mode" ]; then
        mode=honest
        [ "${roles[$i]}" != hostile ] || mode=${names[$i]}
    fi
    [ -x "$llmnr_responder" ] || {
        say "the LLMNR responder $llmnr_responder is missing (build the tests, or set KD_TESTLAN_LLMNR)"
        return 1
    }
    log=$run/$ns.llmnr.log
    : >"$log" || return 1
    ip netns exec "$ns" "$llmnr_responder" --name "$(others_of "$i" llmnr)" --address "${addrs[$i]}" \
        --listen "${addrs[$i]}" --behave "$mode" 9>&- </dev/null >"$log" 2>&1 &
    pid=$!
    echo "$pid $mode" >"$run/$ns.llmnr" || return 1
    for ((tries = 0; tries < 200; tries++)); do
        grep -q '^llmnr_responder: answering' "$log" && return 0
        # Only whether it still runs: until the shell's child has become
        # the responder, its command line is still the shell's.
        pid_runs "$pid" || break
        sleep 0.05
    done
    say "the LLMNR responder of ${addrs[$i]} did not start (log in $log)"
    return 1
}

# The pid and the mode of a host's LLMNR responder, as started.
llmnr_pid() { local pid mode; read -r pid mode <"$run/$(ns_of "${roles[$1]}" "${addrs[$1]}").llmnr" && echo "$pid"; }
llmnr_mode() { local pid mode; read -r pid mode <"$run/$(ns_of "${roles[$1]}" "${addrs[$1]}").llmnr" && echo "$mode"; }
# Whether the process runs: it exists and has not ended (a process that
# ended is a zombie until it is reaped, its sockets closed).
pid_runs() { # pid
    local stat
    stat=$(cat "/proc/$1/stat" 2>/dev/null) || return 1
    stat=${stat##*) }
    [ "${stat%% *}" != Z ]
}
llmnr_running() { # index
    local pid
    pid=$(llmnr_pid "$1" 2>/dev/null) && [ -n "$pid" ] && pid_runs "$pid" &&
        grep -qa llmnr_responder "/proc/$pid/cmdline" 2>/dev/null
}

stop_llmnr() { # index
    local i=$1 pid tries
    llmnr_running "$i" || return 0
    pid=$(llmnr_pid "$i")
    kill -TERM "$pid" 2>/dev/null
    for ((tries = 0; tries < 50; tries++)); do
        pid_runs "$pid" || return 0
        sleep 0.05
    done
    kill -KILL "$pid" 2>/dev/null
    return 0
}

# The LAN's DNS server: dnsmasq on the dns host, with no configuration but
# this, no upstream server and not the machine's hosts file. It holds a PTR
# (and A) record for every DNS name of the layout; every reverse zone, and
# the domains of those names, are its own, so that any other name there gets
# NXDOMAIN at once. It forks once it listens.
start_dns() {
    local i=$dns_index ns dir j name zones=("--local=/in-addr.arpa/")
    ns=$(ns_of "${roles[$i]}" "${addrs[$i]}")
    dir=$run/$ns/dns
    command -v dnsmasq >/dev/null || {
        say "dnsmasq (package dnsmasq-base) is missing"
        return 1
    }
    mkdir -p "$dir" && : >"$dir/hosts" || return 1
    for j in "${!roles[@]}"; do
        for name in $(others_of "$j" dns); do
            echo "${addrs[$j]} $name" >>"$dir/hosts" || return 1
            [[ " ${zones[*]} " == *" --local=/${name#*.}/ "* ]] || zones+=("--local=/${name#*.}/")
        done
    done
    in_ns "$ns" dnsmasq --conf-file=/dev/null --no-resolv --no-hosts --bind-interfaces \
        --listen-address="${addrs[$i]}" --port=53 --addn-hosts="$dir/hosts" "${zones[@]}" \
        --user=root --pid-file="$dir/dnsmasq.pid" --log-facility="$run/$ns.dns.log" 9>&- </dev/null
}

# Inside the client namespace only: `ip netns exec kd-client` puts the file
# over /etc/resolv.conf. /etc/netns is removed again only if we made it.
write_client_resolver() {
    [ -n "$dns_index" ] || return 0
    if [ ! -d /etc/netns ]; then
        mkdir -m 755 /etc/netns && : >"$run/made-etc-netns" || return 1
    fi
    mkdir -p "$client_etc" && echo "nameserver ${addrs[$dns_index]}" >"$client_etc/resolv.conf"
}

remove_client_resolver() {
    rm -f -- "$client_etc/resolv.conf"
    rmdir -- "$client_etc" 2>/dev/null
    [ ! -e "$run/made-etc-netns" ] || rmdir /etc/netns 2>/dev/null
    return 0
}

# True when `server` answers the PTR query for `address` from an ephemeral
# port with `name` alone (port 5353: mDNS's legacy unicast; 5355: LLMNR).
ptr_answers() { # server port address name
    local out
    out=$(in_ns "$client_ns" dig -p "$2" @"$1" -x "$3" +short +norecurse +noedns +time=1 +tries=1 \
        2>/dev/null) || return 1
    [ "$out" = "$4." ]
}

# True when each of the host's names of other sources answers as the layout
# says: its avahi-daemon, its LLMNR responder (running; asked when honest),
# and the DNS server.
others_answer() { # index
    local i=$1 name
    name=$(others_of "$i" mdns)
    [ -z "$name" ] || ptr_answers "${addrs[$i]}" 5353 "${addrs[$i]}" "$name" || return 1
    name=$(others_of "$i" llmnr)
    if [ -n "$name" ]; then
        llmnr_running "$i" || return 1
        # A hostile answer is the tests' to read.
        [ "$(llmnr_mode "$i")" != honest ] || ptr_answers "${addrs[$i]}" 5355 "${addrs[$i]}" "$name" ||
            return 1
    fi
    for name in $(others_of "$i" dns); do
        ptr_answers "${addrs[$dns_index]}" 53 "${addrs[$i]}" "$name" || return 1
    done
    [ -z "$dns_index" ] || [ -f "$client_etc/resolv.conf" ]
}

# The name sources start together; avahi-daemon's probing of its name takes
# the longest, and runs while nmbd registers its names.
start_others() {
    local i
    if [ -n "$dns_index" ]; then
        start_dns || {
            say "dnsmasq on ${addrs[$dns_index]} did not start (log in $run)"
            return 1
        }
        write_client_resolver || return 1
    fi
    for i in "${!roles[@]}"; do
        [ -z "$(others_of "$i" mdns)" ] || start_avahi "$i" || return 1
        [ -z "$(others_of "$i" llmnr)" ] || start_llmnr "$i" || return 1
    done
}

wait_for_others() {
    local deadline=$((SECONDS + ready_timeout)) i pending
    while :; do
        pending=()
        for i in "${!roles[@]}"; do
            [ "${others[$i]}" = - ] || others_answer "$i" || pending+=("${addrs[$i]}")
        done
        [ ${#pending[@]} -eq 0 ] && return 0
        if ((SECONDS >= deadline)); then
            say "names did not answer within ${ready_timeout}s: ${pending[*]} (logs in $run)"
            return 1
        fi
        sleep 0.2
    done
}

# The prefix as a local route of the wide host, the client's route to it, and
# the responder. The responder binds its socket before it goes to the
# background, so it answers once the command is back.
add_wide() {
    local addr=${addrs[$wide_index]} prefix
    prefix=$(wide_prefix)
    in_ns "$wide_ns" ip route add local "$prefix" dev lo || return 1
    in_ns "$client_ns" ip route add "$prefix" via "$addr" || return 1
    [ -x "$responder" ] || {
        say "the node-status responder $responder is missing (build the tests, or set KD_TESTLAN_RESPONDER)"
        return 1
    }
    # fd 9 is the LAN lock: the responder must not keep it.
    in_ns "$wide_ns" "$responder" --conf "$conf" --daemon 9>&- </dev/null >>"$run/$wide_ns.log" 2>&1 ||
        return 1
    local tries
    for tries in 1 2 3; do
        responder_answers && return 0
    done
    say "the responder does not answer for $prefix (log in $run/$wide_ns.log)"
    return 1
}

# The client reaches the LAN and, when there is one, the routed prefix:
# nothing else.
client_routes_closed() {
    local route allowed=("$subnet_prefix.0/24")
    [ -n "$wide_index" ] && allowed+=("$(wide_prefix)")
    while read -r route _; do
        [ -n "$route" ] || continue
        [[ " ${allowed[*]} " == *" $route "* ]] || {
            say "the client namespace has a route to $route"
            return 1
        }
    done < <(in_ns "$client_ns" ip -4 route show)
}

wait_for_nmbd() {
    local deadline=$((SECONDS + ready_timeout)) i pending
    while :; do
        pending=()
        for i in "${!roles[@]}"; do
            runs_nmbd "${roles[$i]}" || continue
            nmbd_answers "$i" || pending+=("${addrs[$i]}")
        done
        [ ${#pending[@]} -eq 0 ] && return 0
        if ((SECONDS >= deadline)); then
            say "nmbd did not answer within ${ready_timeout}s: ${pending[*]} (logs in $run)"
            return 1
        fi
        sleep 1
    done
}

build_lan() {
    mkdir -p "$run" || return 1
    ip netns add "$switch_ns" || return 1
    in_ns "$switch_ns" ip link set lo up || return 1
    ip -n "$switch_ns" link add "$bridge" type bridge stp_state 0 forward_delay 0 || return 1
    ip -n "$switch_ns" link set "$bridge" up || return 1
    local i
    for i in "${!roles[@]}"; do
        [ "${roles[$i]}" = silent ] && continue
        add_host "$i" || {
            say "could not add ${addrs[$i]}"
            return 1
        }
    done
    write_client_conf || return 1
    if [ -n "$wide_index" ]; then
        add_wide || return 1
    fi
    # The client keeps only its own routes; make sure nothing else crept in.
    client_routes_closed || return 1
    start_others || return 1
    for i in "${!roles[@]}"; do
        [ "${roles[$i]}" = slow ] || continue
        start_slow "$i" || return 1
    done
    for i in "${!roles[@]}"; do
        runs_nmbd "${roles[$i]}" || continue
        command -v nmbd >/dev/null || {
            say "nmbd (package samba) is missing"
            return 1
        }
        start_nmbd "$i" || {
            say "nmbd for ${addrs[$i]} did not start"
            return 1
        }
    done
    wait_for_nmbd && wait_for_others
}

lan_ready() {
    local i ns
    ip netns list 2>/dev/null | awk '{print $1}' | grep -qx "$switch_ns" || return 1
    for i in "${!roles[@]}"; do
        [ "${roles[$i]}" = silent ] && continue
        ns=$(ns_of "${roles[$i]}" "${addrs[$i]}")
        ip netns list 2>/dev/null | awk '{print $1}' | grep -qx "$ns" || return 1
    done
    [ -f "$run/client/smb.conf" ] || return 1
    for i in "${!roles[@]}"; do
        firewall_up "$i" || return 1
        if runs_nmbd "${roles[$i]}"; then
            nmbd_answers "$i" || return 1
        elif [ "${roles[$i]}" = slow ]; then
            slow_answers "$i" || return 1
        fi
        [ "${others[$i]}" = - ] || others_answer "$i" || return 1
    done
    [ -z "$wide_index" ] || responder_answers || return 1
    client_routes_closed 2>/dev/null
}

cmd_up() {
    require_root
    command -v nmblookup >/dev/null || die "nmblookup (package samba-common-bin) is missing"
    ! any_others || command -v dig >/dev/null || die "dig (package bind9-dnsutils) is missing"
    if lan_ready; then
        # Up as the layout says: no rejects, loss, limits or hostile modes
        # left by an earlier caller.
        [ -z "$wide_index" ] || { cmd_unreject && cmd_limit none; } || return 1
        cmd_loss ip 0 && cmd_loss arp 0 && cmd_arpdrop none || return 1
        cmd_hostile || return 1
        say "already up"
        return 0
    fi
    cmd_down >/dev/null 2>&1 || cmd_down || return 1
    if ! build_lan; then
        say "bringing the LAN up failed; removing what was made"
        cmd_down
        return 1
    fi
    local routed=""
    [ -z "$wide_index" ] || routed="; $(wide_prefix) is routed through ${addrs[$wide_index]}"
    local named=0 i
    for i in "${!others[@]}"; do [ "${others[$i]}" = - ] || named=$((named + 1)); done
    say "up: $(grep -cE '^(nmbd|noping|nmbd-named)$' <(printf '%s\n' "${roles[@]}")) nmbd hosts answer," \
        "$named hosts with names from mDNS, LLMNR or DNS$routed"
    return 0
}

cmd_status() {
    require_root
    local i ns state
    printf '%-8s %-14s %-10s %s\n' role address namespace state
    for i in "${!roles[@]}"; do
        ns=-
        state=absent
        if [ "${roles[$i]}" != silent ]; then
            ns=$(ns_of "${roles[$i]}" "${addrs[$i]}")
            if ip netns list 2>/dev/null | awk '{print $1}' | grep -qx "$ns"; then
                state=present
                if ! firewall_up "$i"; then
                    state="present, no firewall"
                elif [ "${roles[$i]}" = slow ]; then
                    if [ -f "$run/client/smb.conf" ] && slow_answers "$i"; then
                        state="present, answers late"
                    else
                        state="present, silent"
                    fi
                elif runs_nmbd "${roles[$i]}"; then
                    if [ -f "$run/client/smb.conf" ] && nmbd_answers "$i"; then
                        state="present, nmbd answers"
                    else
                        state="present, nmbd silent"
                    fi
                elif [ "${roles[$i]}" = wide ]; then
                    if [ -f "$run/client/smb.conf" ] && responder_answers; then
                        state="present, answers for $(wide_prefix)"
                        ! rejecting || state="$state, odd /24s rejected"
                    else
                        state="present, silent for $(wide_prefix)"
                    fi
                fi
                if [ "${others[$i]}" != - ]; then
                    if others_answer "$i"; then
                        state="$state, names answer"
                    else
                        state="$state, names silent"
                    fi
                    [ -z "$(others_of "$i" llmnr)" ] || state="$state, LLMNR $(llmnr_mode "$i" 2>/dev/null)"
                fi
            fi
        else
            state="no host (by design)"
        fi
        printf '%-8s %-14s %-10s %s\n' "${roles[$i]}" "${addrs[$i]}" "$ns" "$state"
    done
    if lan_ready; then
        echo "the test LAN is up"
        return 0
    fi
    echo "the test LAN is not (fully) up"
    return 1
}

index_of() { # address
    local i
    for i in "${!addrs[@]}"; do
        [ "${addrs[$i]}" = "$1" ] && { echo "$i"; return 0; }
    done
    die "no host $1 in $conf"
}

# unplug: a host's link goes down, as if its cable were pulled; plug: up again.
set_link() { # address down|up
    require_root
    local i
    i=$(index_of "$1") || return 1
    [ "${roles[$i]}" != silent ] && [ "${roles[$i]}" != client ] || die "$1 is no host to (un)plug"
    ip -n "$(ns_of "${roles[$i]}" "$1")" link set eth0 "$2"
}
cmd_unplug() { set_link "$1" down; }
cmd_plug() { set_link "$1" up; }

cmd_rename() { # address name
    require_root
    local i ns tries
    i=$(index_of "$1") || return 1
    nmbd_only "${roles[$i]}" || die "$1 runs no nmbd, or more than nmbd"
    valid_name "$2" || die "$2 is no NetBIOS name"
    ns=$(ns_of "${roles[$i]}" "$1")
    stop_processes_in "$ns"
    names[$i]=$2
    start_nmbd "$i" || die "nmbd for $1 did not start"
    for ((tries = 0; tries < ready_timeout; tries++)); do
        nmbd_answers "$i" && return 0
        sleep 1
    done
    die "nmbd for $1 did not answer as $2 within ${ready_timeout}s"
}

cmd_move() { # address to
    require_root
    local i ns tries a
    i=$(index_of "$1") || return 1
    nmbd_only "${roles[$i]}" || die "$1 runs no nmbd, or more than nmbd"
    [[ $2 =~ ^$subnet_prefix\.([0-9]{1,3})$ ]] && ((BASH_REMATCH[1] >= 2 && BASH_REMATCH[1] <= 254)) ||
        die "$2 is no host address of $subnet_prefix.0/24"
    for a in "${addrs[@]}"; do
        [ "$a" != "$2" ] || [ "$2" = "$1" ] || die "$2 belongs to another host of the layout"
    done
    ns=$(ns_of "${roles[$i]}" "$1")
    stop_processes_in "$ns"
    in_ns "$ns" ip addr flush dev eth0 || die "cannot take $1's address away"
    in_ns "$ns" ip addr add "$2/24" dev eth0 || die "cannot give $1 the address $2"
    # The namespace keeps the name of the host's home address.
    addrs[$i]=$2
    write_nmbd_conf "$i" "$run/$ns" || die "cannot write nmbd's configuration for $1"
    in_ns "$ns" nmbd -D -s "$run/$ns/smb.conf" 9>&- || die "nmbd for $1 did not start at $2"
    for ((tries = 0; tries < ready_timeout; tries++)); do
        nmbd_answers "$i" && return 0
        sleep 1
    done
    die "nmbd for $1 did not answer at $2 within ${ready_timeout}s"
}

# Every odd /24 of the prefix (third octet odd), as nftables set elements. A
# prefix narrower than a /24 is rejected whole when its third octet is odd.
odd_slash24s() {
    local first=$((wide_network >> 8)) last=$(((wide_network + (1 << (32 - wide_length)) - 1) >> 8)) n out=()
    for ((n = first; n <= last; n++)); do
        ((n & 1)) && out+=("$(dotted $((n << 8)))/24")
    done
    local IFS=,
    echo "${out[*]}"
}

rejecting() { in_ns "$wide_ns" nft list table ip "$reject_table" >/dev/null 2>&1; }

# Before routing, so the errors go out from the wide host's own address (the
# route back to the asker), not from the address asked: a router's answer.
cmd_reject() {
    require_root
    [ -n "$wide_index" ] || die "the layout has no wide host"
    ip netns list 2>/dev/null | awk '{print $1}' | grep -qx "$wide_ns" || die "the test LAN is not up"
    command -v nft >/dev/null || die "nft (package nftables) is missing"
    local odd
    odd=$(odd_slash24s)
    [ -n "$odd" ] || die "$(wide_prefix) holds no odd /24"
    cmd_unreject || return 1
    in_ns "$wide_ns" nft -f - <<EOF || die "could not add the rejects"
table ip $reject_table {
    set gone {
        type ipv4_addr; flags interval;
        elements = { $odd }
    }
    chain prerouting {
        type filter hook prerouting priority raw; policy accept;
        ip daddr @gone ip daddr & 0.0.0.1 == 0.0.0.1 icmp type echo-request reject with icmp type host-unreachable
        ip daddr @gone ip daddr & 0.0.0.1 == 0.0.0.1 udp dport 137 reject with icmp type port-unreachable
    }
}
EOF
}

cmd_unreject() {
    require_root
    ! rejecting || in_ns "$wide_ns" nft delete table ip "$reject_table" || die "could not remove the rejects"
}

# A host's blocks live in a table of their own, beside a quiet host's firewall.
cmd_block() { # address nbstat|ip|none
    require_root
    local i ns rule
    i=$(index_of "$1") || return 1
    [ "${roles[$i]}" != silent ] && [ "${roles[$i]}" != client ] && [ "${roles[$i]}" != wide ] ||
        die "$1 is no host to block"
    case $2 in
    nbstat) rule="udp dport 137 drop" ;;
    ip) rule="meta nfproto ipv4 drop" ;;
    none) rule= ;;
    *) die "block takes nbstat, ip or none" ;;
    esac
    command -v nft >/dev/null || die "nft (package nftables) is missing"
    ns=$(ns_of "${roles[$i]}" "$1")
    if in_ns "$ns" nft list table inet "$block_table" >/dev/null 2>&1; then
        in_ns "$ns" nft delete table inet "$block_table" || die "could not remove the block of $1"
    fi
    [ -n "$rule" ] || return 0
    in_ns "$ns" nft -f - <<EOF || die "could not block $1"
table inet $block_table {
    chain input {
        type filter hook input priority filter; policy accept;
        $rule
    }
}
EOF
}

# A table of ours in a namespace, put in place of the one there; with no
# chains, only taken away. `what` names it in messages.
set_table() { # namespace family table chains what
    local ns=$1 family=$2 table=$3 chains=$4 what=$5
    command -v nft >/dev/null || die "nft (package nftables) is missing"
    ip netns list 2>/dev/null | awk '{print $1}' | grep -qx "$ns" || die "the test LAN is not up"
    if in_ns "$ns" nft list table "$family" "$table" >/dev/null 2>&1; then
        in_ns "$ns" nft delete table "$family" "$table" || die "could not end $what"
    fi
    [ -n "$chains" ] || return 0
    in_ns "$ns" nft -f - <<<"table $family $table {
    $chains
}" || die "could not add $what"
}

# A filter chain on `hook` with one rule.
chain() { # hook rule
    echo "chain $1 { type filter hook $1 priority filter; policy accept; $2; }"
}

# Loss at the client: a table per kind, so that each can be set alone.
cmd_loss() { # ip|arp percent
    require_root
    local drop chains=
    [[ $2 =~ ^[0-9]{1,2}$ ]] || die "loss takes a percentage from 0 to 99"
    drop="numgen random mod 100 < $((10#$2)) drop"
    case $1 in
    ip) [ "$((10#$2))" -eq 0 ] || chains=$(chain input "$drop") ;;
    arp) [ "$((10#$2))" -eq 0 ] || chains="$(chain input "$drop")
    $(chain output "$drop")" ;;
    *) die "loss takes ip or arp" ;;
    esac
    set_table "$client_ns" "$1" "$loss_table" "$chains" "the $1 loss"
}

# One host's ARP requests, every other one lost: a counter of the rule's own,
# so the first request for it is lost and the next one goes, every time.
cmd_arpdrop() { # address|none
    require_root
    local i chains=
    if [ "$1" != none ]; then
        i=$(index_of "$1") || return 1
        chains=$(chain output "arp operation request arp daddr ip ${addrs[$i]} numgen inc mod 2 0 drop")
    fi
    set_table "$client_ns" arp "$arpdrop_table" "$chains" "the ARP drops"
}

# The wide host's node-status answers, limited: they leave from UDP port 137.
cmd_limit() { # rate|none
    require_root
    [ -n "$wide_index" ] || die "the layout has no wide host"
    local chains=
    if [ "$1" != none ]; then
        [[ $1 =~ ^[1-9][0-9]{0,6}$ ]] || die "limit takes a rate (answers a second) or none"
        chains=$(chain output "udp sport 137 limit rate over $1/second drop")
    fi
    set_table "$wide_ns" ip "$limit_table" "$chains" "the limit"
}

# The hostile hosts' LLMNR responders answer as `mode` says from now on; no
# mode: as the layout says. A responder already in that mode is left alone.
cmd_hostile() { # [mode]
    require_root
    local mode=${1:-} i want
    [ -z "$mode" ] || valid_mode "$mode" || die "hostile takes honest, other-address, thousand, loop, long-name or control"
    for i in "${!roles[@]}"; do
        [ "${roles[$i]}" = hostile ] || continue
        want=${mode:-${names[$i]}}
        if llmnr_running "$i" && [ "$(llmnr_mode "$i")" = "$want" ]; then
            continue
        fi
        ip netns list 2>/dev/null | awk '{print $1}' | grep -qx "$(ns_of hostile "${addrs[$i]}")" ||
            die "the test LAN is not up"
        stop_llmnr "$i"
        start_llmnr "$i" "$want" || die "the LLMNR responder of ${addrs[$i]} did not start as $want"
    done
    return 0
}

# One change of the LAN at a time, also between separate callers; a caller
# that already holds the lock (run-in-testlan.sh) says so in KD_TESTLAN_LOCKED.
with_lock() {
    if [ "${KD_TESTLAN_LOCKED:-}" = 1 ]; then
        "$@"
        return
    fi
    exec 9>"$lockfile" || die "cannot open $lockfile"
    flock 9 || die "cannot lock $lockfile"
    "$@"
}

case "${1:-}" in
up)
    read_conf
    with_lock cmd_up
    ;;
down)
    # Works without the layout file: it removes whatever namespaces are ours.
    with_lock cmd_down
    ;;
status)
    read_conf
    cmd_status
    ;;
check)
    read_conf
    ;;
unplug | plug)
    [ $# -eq 2 ] || die "usage: $0 $1 ADDRESS"
    read_conf
    with_lock "cmd_$1" "$2"
    ;;
move)
    [ $# -eq 3 ] || die "usage: $0 move ADDRESS TO"
    read_conf
    with_lock cmd_move "$2" "$3"
    ;;
rename)
    [ $# -eq 3 ] || die "usage: $0 rename ADDRESS NAME"
    read_conf
    with_lock cmd_rename "$2" "$3"
    ;;
block)
    [ $# -eq 3 ] || die "usage: $0 block ADDRESS nbstat|ip|none"
    read_conf
    with_lock cmd_block "$2" "$3"
    ;;
reject | unreject)
    [ $# -eq 1 ] || die "usage: $0 $1"
    read_conf
    with_lock "cmd_$1"
    ;;
loss)
    [ $# -eq 3 ] || die "usage: $0 loss ip|arp PERCENT"
    read_conf
    with_lock cmd_loss "$2" "$3"
    ;;
arpdrop)
    [ $# -eq 2 ] || die "usage: $0 arpdrop ADDRESS|none"
    read_conf
    with_lock cmd_arpdrop "$2"
    ;;
limit)
    [ $# -eq 2 ] || die "usage: $0 limit RATE|none"
    read_conf
    with_lock cmd_limit "$2"
    ;;
hostile)
    [ $# -le 2 ] || die "usage: $0 hostile [MODE]"
    read_conf
    grep -qx hostile <(printf '%s\n' "${roles[@]}") || die "the layout has no hostile host"
    with_lock cmd_hostile "${2:-}"
    ;;
*)
    echo "usage: $0 up|down|status|check|unplug ADDRESS|plug ADDRESS|rename ADDRESS NAME|move ADDRESS TO|reject|unreject|block ADDRESS nbstat|ip|none|loss ip|arp PERCENT|arpdrop ADDRESS|none|limit RATE|none|hostile [MODE]" >&2
    exit 2
    ;;
esac
