#!/usr/bin/env bash
# Usage: tools/loadgen/compare_listeners.sh [BUILD_DIR]
# Fires bursts of 1,000 and 10,000 "1" reports from as many loopback addresses at 127.0.0.1 and
# measures four listeners: one datagram per 100 ms with the default buffer (the original design),
# draining at each wake with the default buffer, with what a 4 MiB request gets where
# net.core.rmem_max is Debian's default 212992 (the system grants twice that), and with 4 MiB.
# Loopback only. Needs the report port free (PORT=... to use another). Takes about a minute,
# mostly the slow listener working through what its buffer kept.
set -euo pipefail
build=${1:-build}
loadgen=$build/tools/loadgen/plinket_loadgen
port=${PORT:-47128}
id=424242
[ -x "$loadgen" ] || { echo "no $loadgen: build the plinket_loadgen target first" >&2; exit 2; }

listener=
log=$(mktemp)
cleanup() {
    [ -n "$listener" ] && kill "$listener" 2>/dev/null || true
    rm -f "$log"
}
trap cleanup EXIT INT TERM

echo "net.core.rmem_default=$(cat /proc/sys/net/core/rmem_default) net.core.rmem_max=$(cat /proc/sys/net/core/rmem_max)"
printf '%-8s %-22s %9s %9s %7s %18s\n' burst listener rcvbuf taken lost first-to-last-ms
for n in 1000 10000; do
    for kind in slow drain-default drain-capped drain-4MiB; do
        case $kind in
            slow) args=(--listen slow) ;;
            drain-default) args=(--listen drain --rcvbuf 0) ;;
            drain-capped) args=(--listen drain --rcvbuf 212992) ;;
            drain-4MiB) args=(--listen drain --rcvbuf 4194304) ;;
        esac
        "$loadgen" "${args[@]}" --report-port "$port" --id "$id" --expect "$n" --duration-s 60 \
            --idle-exit-ms 2000 >"$log" 2>&1 &
        listener=$!
        for _ in $(seq 50); do grep -q '^listening' "$log" && break; sleep 0.1; done
        grep -q '^listening' "$log" || { cat "$log" >&2; exit 1; }
        burst=$("$loadgen" --burst "$n" --statuses 1 --to 127.0.0.1 --report-port "$port" --id "$id" --duration-s 10)
        wait "$listener" || true
        listener=
        field() { grep -o "$1=[0-9.]*" "$log" | head -1 | cut -d= -f2; }
        printf '%-8s %-22s %9s %9s %7s %18s   (burst sent in %s ms)\n' "$n" "$kind" "$(field rcvbuf)" \
            "$(field reports)" "$(field lost)" "$(field first_to_last_ms)" \
            "$(echo "$burst" | grep -o 'send_ms=[0-9.]*' | cut -d= -f2)"
    done
done
