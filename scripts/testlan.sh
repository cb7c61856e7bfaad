#!/usr/bin/env bash
# The test LAN: hosts in network namespaces on 198.18.0.0/24, and a prefix
# routed beside it, laid out by tests/lan/testlan.conf.
#
#   testlan.sh up       build it (again) and wait until every nmbd host answers
#   testlan.sh down     remove everything, also what a failed `up` left behind
#   testlan.sh status   show what exists; exit 0 only when the LAN is fully up
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
# Needs root. KD_TESTLAN_CONF names another layout file, KD_TESTLAN_RUN another
# run directory (nmbd's configuration, state and logs), KD_TESTLAN_RESPONDER
# the responder (default: build/tests/lan/nbns_responder of this tree).
set -uo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
conf=${KD_TESTLAN_CONF:-$here/../tests/lan/testlan.conf}
run=${KD_TESTLAN_RUN:-/run/kd-testlan}
responder=${KD_TESTLAN_RESPONDER:-$here/../build/tests/lan/nbns_responder}
lockfile=/run/kd-testlan.lock

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

roles=() addrs=() macs=() names=() groups=() aliases=()
wide_index= wide_network=0 wide_length=0

# Roles whose hosts answer node-status queries with a name of the layout.
has_names() { [ "$1" = nmbd ] || [ "$1" = noping ] || [ "$1" = slow ]; }
# Roles that run nmbd.
runs_nmbd() { [ "$1" = nmbd ] || [ "$1" = noping ]; }
# The nftables rules of a quiet host's firewall; nothing for the others.
firewall_rules() { # role
    case $1 in
    noping | closed) echo "icmp type echo-request drop" ;;
    arponly) echo "meta nfproto ipv4 drop" ;;
    esac
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
    local line role addr mac name group alias extra n=0
    while IFS= read -r line || [ -n "$line" ]; do
        n=$((n + 1))
        line=${line%%#*}
        [[ $line =~ ^[[:space:]]*$ ]] && continue
        read -r role addr mac name group alias extra <<<"$line"
        local where="$conf:$n"
        [ -z "${extra:-}" ] && [ -n "${alias:-}" ] || die "$where: expected 6 fields"
        # Only addresses of the test range, never anything routable.
        [[ $addr =~ ^198\.18\.0\.([0-9]{1,3})$ ]] || die "$where: $addr is not in $subnet_prefix.0/24"
        local octet=${BASH_REMATCH[1]}
        ((10#$octet >= 1 && 10#$octet <= 254)) && [ "$octet" = "$((10#$octet))" ] ||
            die "$where: $addr is not a host address"
        case $role in
        client | nmbd | ping | silent | wide | noping | arponly | closed | slow) ;;
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
        if [ "$role" = arponly ] || [ "$role" = closed ]; then
            [ "$name" = - ] && [ "$group" = - ] && [ "$alias" = - ] ||
                die "$where: a $role host has no name, workgroup or aliases"
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
        groups+=("$group") aliases+=("$alias")
    done <"$conf"
    local clients=0 r
    for r in "${roles[@]}"; do [ "$r" = client ] && clients=$((clients + 1)); done
    [ "$clients" -eq 1 ] || die "$conf: exactly one client line is needed"
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
    wait_for_nmbd
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
    done
    [ -z "$wide_index" ] || responder_answers || return 1
    client_routes_closed 2>/dev/null
}

cmd_up() {
    require_root
    command -v nmblookup >/dev/null || die "nmblookup (package samba-common-bin) is missing"
    if lan_ready; then
        # Up as the layout says: no rejects, loss or limits left by an
        # earlier caller.
        [ -z "$wide_index" ] || { cmd_unreject && cmd_limit none; } || return 1
        cmd_loss ip 0 && cmd_loss arp 0 && cmd_arpdrop none || return 1
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
    say "up: $(grep -cE '^(nmbd|noping)$' <(printf '%s\n' "${roles[@]}")) nmbd hosts answer$routed"
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
    runs_nmbd "${roles[$i]}" || die "$1 runs no nmbd"
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
    runs_nmbd "${roles[$i]}" || die "$1 runs no nmbd"
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
*)
    echo "usage: $0 up|down|status|unplug ADDRESS|plug ADDRESS|rename ADDRESS NAME|move ADDRESS TO|reject|unreject|block ADDRESS nbstat|ip|none|loss ip|arp PERCENT|arpdrop ADDRESS|none|limit RATE|none" >&2
    exit 2
    ;;
esac
