#!/usr/bin/env bash
# Times plinket_send sending one message to N load-generator clients (default 10,000) and collecting
# every "Confirmed", on the loopback of a private network namespace (needs root), over several rounds.
#   tools/send_bench/run.sh [BUILD_DIR] [CLIENTS] [ROUNDS] [CONFIRM_MS]
# CONFIRM_MS: each client confirms 0..CONFIRM_MS after showing the message (default 0: as fast as it can).
# Per round it prints the time until plinket_send's output was complete (every recipient's final
# state printed) and until it exited (a run shorter than a second waits for the second of its message
# id to pass), and the count of confirmed recipients; then the medians.
set -euo pipefail
build=$(realpath "${1:-build}")
clients=${2:-10000}
rounds=${3:-5}
confirm=${4:-0}
if [ "$(id -u)" != 0 ]; then
    echo "send_bench: needs root for a private network namespace (unshare --net)" >&2
    exit 2
fi
export build clients rounds confirm
exec unshare --net -- bash -c '
set -euo pipefail
ip link set lo up
loadgen=$build/tools/loadgen/plinket_loadgen
send=$build/server/send/plinket_send
work=$(mktemp -d)
trap "kill \$gen 2>/dev/null || true; rm -rf \"\$work\"" EXIT
"$loadgen" --write-clients "$work/clients.ini" --clients "$clients" --groups 20 --depth 2 >/dev/null
"$loadgen" --clients "$clients" --duration-s 600 --max-messages $((clients * rounds)) \
    --delay2-ms 0 --jitter-ms "$confirm" >"$work/loadgen.out" &
gen=$!
until grep -q "listening on" "$work/loadgen.out" 2>/dev/null; do sleep 0.1; done
ms() { echo $(( ($(date +%s%N) - $1) / 1000000 )); }
outputs=(); exits=()
mkfifo "$work/output"
for round in $(seq 1 "$rounds"); do
    start=$(date +%s%N)
    # The reader sees the end of the output when plinket_send closes it, before the process ends.
    { cat "$work/output" >"$work/out.json"; ms "$start" >"$work/output_ms"; } &
    reader=$!
    code=0
    "$send" --clients "$work/clients.ini" --all --wait 60 --json "Benchmark round $round" >"$work/output" || code=$?
    total=$(ms "$start")
    wait "$reader"
    confirmed=$(grep -o "\"state\":\"confirmed\"" "$work/out.json" | wc -l)
    echo "round $round: output complete $(cat "$work/output_ms") ms, exited $total ms, exit code $code, confirmed $confirmed of $clients"
    outputs+=("$(cat "$work/output_ms")"); exits+=("$total")
    sleep 1
done
median() { printf "%s\n" "$@" | sort -n | awk "{a[NR]=\$1} END {print (NR%2 ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2)}"; }
echo "clients=$clients rounds=$rounds confirm_jitter_ms=$confirm median_output_ms=$(median "${outputs[@]}") median_exit_ms=$(median "${exits[@]}")"
'
