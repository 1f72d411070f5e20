#!/usr/bin/env bash
# Builds a throw-away network lab, runs a command, and tears the lab down again (also on failure or
# Ctrl+C). The layout is that of tests/support/netns.h: a console namespace with a bridge holding
# 10.250.0.1/24 and K client namespaces joined to it by veth pairs, 10.250.0.(10+i)/24, every
# namespace able to resolve every lab name through /etc/netns/<ns>/hosts. Nothing is created in
# the machine's own network namespace. Needs root.
#
#   netns_lab.sh K [COMMAND ARGS...]     build K clients, run COMMAND (default: an interactive shell)
#   netns_lab.sh exec-console PROG ARGS  inside COMMAND: run PROG in the console namespace
#   netns_lab.sh exec-client I PROG ARGS inside COMMAND: run PROG in client I under its own host name
#
# COMMAND sees LAB_TAG, LAB_CONSOLE_NS, LAB_CLIENT_NS (space separated), LAB_CLIENT_HOSTS,
# LAB_CLIENT_ADDRESSES, LAB_BROADCAST and LAB (this script). Example, a console plus three clients:
#   tests/support/netns_lab.sh 3 sh -c 'for i in 0 1 2; do $LAB exec-client $i build/client/plinket_client & done;
#       $LAB exec-console build/server/plinket_server'
set -euo pipefail
self=$(readlink -f "$0")

in_ns() { # ns hostname prog args...
    local ns=$1 host=$2
    shift 2
    exec ip netns exec "$ns" unshare --uts sh -c 'hostname "$0" && exec "$@"' "$host" "$@"
}

case ${1:-} in
    exec-console)
        shift
        in_ns "$LAB_TAG-con" "$LAB_TAG-con" "$@" ;;
    exec-client)
        i=$2
        shift 2
        in_ns "$LAB_TAG-c$i" "$LAB_TAG-c$i" "$@" ;;
    '' | -h | --help)
        sed -n '2,19p' "$self" | sed 's/^# \{0,1\}//'
        exit 0 ;;
esac

clients=$1
shift
[[ $clients =~ ^[0-9]+$ ]] && [ "$clients" -ge 1 ] && [ "$clients" -le 200 ] || {
    echo "netns_lab.sh: client count must be 1..200" >&2
    exit 2
}
[ "$(id -u)" = 0 ] || { echo "netns_lab.sh: needs root" >&2; exit 2; }

tag=plk$$
con=$tag-con
created=()
teardown() {
    local ns pid i
    for ((i = ${#created[@]} - 1; i >= 0; i--)); do
        ns=${created[i]}
        for pid in $(ip netns pids "$ns" 2>/dev/null); do kill -9 "$pid" 2>/dev/null || true; done
        ip netns del "$ns" 2>/dev/null || true
        rm -rf "/etc/netns/$ns"
    done
}
trap teardown EXIT
trap 'exit 130' INT TERM

ip netns add "$con"
created+=("$con")
ip -n "$con" link set lo up
ip -n "$con" link add plkbr0 type bridge
ip -n "$con" addr add 10.250.0.1/24 broadcast 10.250.0.255 dev plkbr0
ip -n "$con" link set plkbr0 up
# The lab has no way out, so a default route only makes 255.255.255.255 leave on the bridge.
ip -n "$con" route add default dev plkbr0
hosts=$(printf '127.0.0.1\tlocalhost\n::1\tlocalhost\n10.250.0.1\t%s.plinket.lab %s\n' "$con" "$con")
client_ns=() client_hosts=() client_addresses=()
for ((i = 0; i < clients; i++)); do
    ns=$tag-c$i
    address=10.250.0.$((10 + i))
    ip netns add "$ns"
    created+=("$ns")
    ip -n "$ns" link set lo up
    ip -n "$con" link add "plkv$i" type veth peer name eth0 netns "$ns"
    ip -n "$con" link set "plkv$i" master plkbr0 up
    ip -n "$ns" addr add "$address/24" broadcast 10.250.0.255 dev eth0
    ip -n "$ns" link set eth0 up
    ip -n "$ns" route add default dev eth0
    hosts+=$(printf '\n%s\t%s.plinket.lab %s' "$address" "$ns" "$ns")
    client_ns+=("$ns") client_hosts+=("$ns") client_addresses+=("$address")
done
for ns in "${created[@]}"; do
    mkdir -p "/etc/netns/$ns"
    printf '%s\n' "$hosts" >"/etc/netns/$ns/hosts"
done
for ((i = 0; i < clients; i++)); do
    for _ in $(seq 100); do
        ip -n "$con" -d -o link show dev "plkv$i" | grep -q 'state forwarding' && break
        sleep 0.05
    done
done

export LAB="$self" LAB_TAG="$tag" LAB_CONSOLE_NS="$con" LAB_CLIENT_NS="${client_ns[*]}" \
    LAB_CLIENT_HOSTS="${client_hosts[*]}" LAB_CLIENT_ADDRESSES="${client_addresses[*]}" LAB_BROADCAST=10.250.0.255
echo "netns_lab: console $con (10.250.0.1), clients: ${client_ns[*]} (${client_addresses[*]})" >&2
status=0
if [ $# -eq 0 ]; then
    "${SHELL:-sh}" -i || status=$?
else
    "$@" || status=$?
fi
exit "$status"
