#!/usr/bin/env bash
# Usage: journal_upload_test.sh SOURCE_DIR BUILD_DIR
# The README's central log recipe in two booted Debian 12 containers joined by a veth pair in network
# namespaces of the test's own: "logs" (the administrator's computer: systemd-journal-remote and
# plinket-common) and "ws" (a workstation: plinket-client, plinket-send, systemd-journal-upload). The
# workstation's client starts, shows a message from plinket_send and ends; on "logs" journalctl -x
# shows those events with their catalog texts, found by event id and host name.
# Exit 77 (skipped) where it cannot run.
set -euo pipefail
source_dir=$(cd "$1" && pwd)
build=$(cd "$2" && pwd)
source "$source_dir/tests/support/booted_container.sh"
readme=$source_dir/README.md
debs=()
for name in plinket-common plinket-send plinket-client; do
    debs+=("$(ls "$build"/packages/"${name}"_*.deb 2>/dev/null)") || bc_skip "no packages in $build/packages (scripts/package)"
done
bc_init "$build/container-test" boot

bc_network "plk-log$$"
bc_network "plk-ws$$"
bc_link "plk-log$$" 10.250.203.1/30 "plk-ws$$" 10.250.203.2/30
bc_step "roots: logs with systemd-journal-remote and plinket-common, ws with the client and plinket_send"
bc_root logs systemd-journal-remote "${debs[0]}"
bc_root ws systemd-journal-remote "${debs[@]}"
echo "10.250.203.1 admin-pc.office.example" >>"$(bc_dir ws)/etc/hosts"
bc_boot logs "plk-log$$"
bc_boot ws "plk-ws$$"

bc_step "the README's recipe on each side"
bc_readme_block "$readme" "--listen-http" >"$(bc_dir logs)/root/receive.sh"
bc_exec logs sh -e /root/receive.sh
bc_readme_block "$readme" "journal-upload.conf.d" >"$(bc_dir ws)/root/upload.sh"
bc_exec ws sh -e /root/upload.sh

bc_step "events on the workstation: the client starts, shows a message, ends"
# Nobody logs in here: the client runs on its own, as on a computer without the host agent (README).
bc_exec ws systemctl disable --now plinket-agent
bc_exec ws systemd-run -q --unit=plinket-client -E QT_QPA_PLATFORM=offscreen /usr/bin/plinket_client
client_started() { bc_exec ws journalctl -q -t "Plinket Client" PLINKET_EVENT_ID=100 _COMM=plinket_client | grep -q .; }
bc_wait 30 "event 100 on the workstation" client_started
bc_exec ws plinket_send --host 127.0.0.1 --require delivered --wait 30 "Central logs" >/dev/null ||
    bc_fail "the workstation's client did not show the message"
bc_exec ws systemctl stop plinket-client

# On the administrator's computer, as the README shows it: by event id and host, with catalog texts.
remote() { bc_exec logs journalctl -x -q -D /var/log/journal/remote _HOSTNAME=ws "$@"; }
arrived() { remote -t "Plinket Client" PLINKET_EVENT_ID=103 | grep -q .; }
bc_wait 60 "the workstation's event 103 on logs" arrived
version=$(sed -n 's/^project(Plinket VERSION \([0-9.]*\).*/\1/p' "$source_dir/CMakeLists.txt")
check() {
    local source=$1 id=$2 text=$3 out
    out=$(remote -t "$source" PLINKET_EVENT_ID="$id")
    grep -qF -- "$text" <<<"$out" || bc_fail "$source event $id on logs lacks \"$text\": $out"
    echo "$source $id: $(grep -m1 -F -- "$text" <<<"$out")"
}
# The subject lines come from the catalog alone; the text is the catalog's with the event's strings.
check "Plinket Client" 100 "Subject: Plinket Client event 100"
check "Plinket Client" 100 "░░ Version $version is launched."
check "Plinket Client" 101 "Subject: Plinket Client event 101"
check "Plinket Client" 103 "Subject: Plinket Client event 103"
check "Plinket Send" 101 "Subject: Plinket Send event 101"
hosts=$(bc_exec logs journalctl -q -D /var/log/journal/remote -o export PLINKET_EVENT_ID=100 | sed -n 's/^_HOSTNAME=//p' | sort -u)
[ "$hosts" = ws ] || bc_fail "event 100 on logs comes from \"$hosts\", not only from ws"
bc_step "done"
