#!/usr/bin/env bash
# Usage: tools/messaging_bench/run.sh [BUILD_DIR]
# Benchmarks of the console's messaging, with the figures printed:
#   1. 10,000 clients answering "1" at once: the console's ReportListener with the tree on screen
#      (offscreen platform), beside the original design's listener that takes one report per 100 ms
#      (plinket_loadgen --listen slow, default receive buffer), fed the same burst;
#   2. a Send to 10,000 IPv4 recipients;
#   3. a Send to 1,000 recipients by name, 100 of which no resolver knows, with names resolved side by
#      side, beside names resolved one after another (measured on 100 names with 10 unknown, since one
#      after another 100 unknown names would take 100 time-outs).
# Loopback only. The third benchmark needs root: it runs in a network namespace of its own whose hosts file knows the
# resolvable names and whose resolv.conf points at an address behind a veth pair that lies wholly inside
# the namespace, where nobody answers (the query dies unanswered after ARP), so an unknown name fails after the resolver's time-out (1 s, set there) and
# no query leaves the machine. Takes about a minute, mostly the slow listener working through its buffer.
set -euo pipefail
build=${1:-build}
bench=$build/tools/messaging_bench/plinket_messaging_bench
loadgen=$build/tools/loadgen/plinket_loadgen
for p in "$bench" "$loadgen"; do
    [ -x "$p" ] || { echo "no $p: build plinket_messaging_bench and plinket_loadgen first" >&2; exit 2; }
done
export QT_QPA_PLATFORM=offscreen QT_LOGGING_RULES='qt.qpa.*=false'
id=424242
ns=
listener=
log=$(mktemp)
cleanup() {
    [ -n "$listener" ] && kill "$listener" 2>/dev/null || true
    if [ -n "$ns" ]; then
        ip netns del "$ns" 2>/dev/null || true
        rm -rf "/etc/netns/$ns"
    fi
    rm -f "$log"
}
trap cleanup EXIT INT TERM

echo "net.core.rmem_default=$(cat /proc/sys/net/core/rmem_default) net.core.rmem_max=$(cat /proc/sys/net/core/rmem_max)"
echo
echo "== 1. 10,000 clients answering at once"
echo "-- ours: ReportListener draining at each wake, 4 MiB buffer, tree on screen"
"$bench" --reports 10000 --loadgen "$loadgen" --port 47901 2>/dev/null
echo "-- the original design: one report per 100 ms, the system's default buffer"
"$loadgen" --listen slow --report-port 47903 --id "$id" --expect 10000 --duration-s 60 --idle-exit-ms 1500 \
    >"$log" 2>&1 &
listener=$!
for _ in $(seq 50); do grep -q '^listening' "$log" && break; sleep 0.1; done
"$loadgen" --burst 10000 --statuses 1 --to 127.0.0.1 --report-port 47903 --id "$id" --duration-s 10 | sed 's/^/   /'
wait "$listener" || true
listener=
sed 's/^/   /' "$log"

echo
echo "== 2. Send to 10,000 IPv4 recipients"
"$bench" --dispatch 10000 --port 47902 2>/dev/null

echo
echo "== 3. Send to 1,000 names, 100 of them unresolvable (resolver time-out 1 s)"
if [ "$(id -u)" != 0 ]; then
    echo "   skipped: needs root for the resolver namespace"
    exit 0
fi
ns=plkbench$$
ip netns add "$ns"
ip -n "$ns" link set lo up
ip -n "$ns" link add plkhole0 type veth peer name plkhole1
ip -n "$ns" addr add 10.99.0.1/24 dev plkhole0
ip -n "$ns" link set plkhole0 up
ip -n "$ns" link set plkhole1 up
mkdir -p "/etc/netns/$ns"
{
    printf '127.0.0.1\tlocalhost\n'
    for i in $(seq 0 999); do printf '127.0.0.1\tBENCH-PC-%d\n' "$i"; done
} >"/etc/netns/$ns/hosts"
printf 'nameserver 10.99.0.53\noptions timeout:1 attempts:1\n' >"/etc/netns/$ns/resolv.conf"
echo "-- ours: names resolved side by side (at most 128 at once)"
ip netns exec "$ns" "$bench" --resolve 1000 --unresolvable 100 --port 47904 2>/dev/null
echo "-- the original design: one name after another (100 names, 10 unresolvable)"
ip netns exec "$ns" "$bench" --resolve 100 --unresolvable 10 --resolver-threads 1 --port 47904 2>/dev/null
