#!/usr/bin/env bash
# Usage: recipes_test.sh SOURCE_DIR BUILD_DIR
# The README's recipes for scripted sends, run as the README shows them in a booted Debian 12 container
# with plinket-send and cron installed from BUILD_DIR/packages: the set-up, the monitoring alert (reached
# and not reached), the cron job (its schedule made "every minute") through cron, and the shutdown unit
# through a real reboot and a power-off. Two stand-in workstations in network namespaces of the test's
# own: one answers every message (load generator's responder), one only records them.
# Exit 77 (skipped) where it cannot run.
set -euo pipefail
source_dir=$(cd "$1" && pwd)
build=$(cd "$2" && pwd)
source "$source_dir/tests/support/booted_container.sh"
readme=$source_dir/README.md
loadgen=$build/tools/loadgen/plinket_loadgen
[ -x "$loadgen" ] || bc_skip "no $loadgen (build the tools first)"
send_deb=$(ls "$build"/packages/plinket-send_*.deb 2>/dev/null) || bc_skip "no packages in $build/packages (scripts/package)"
common_deb=$(ls "$build"/packages/plinket-common_*.deb)
bc_init "$build/container-test" boot

# The server (container "srv") between two workstations: ws-a answers, ws-b records.
bc_network "plk-srv$$"
bc_network "plk-wsa$$"
bc_network "plk-wsb$$"
bc_link "plk-srv$$" 10.250.201.1/30 "plk-wsa$$" 10.250.201.2/30
bc_link "plk-srv$$" 10.250.202.1/30 "plk-wsb$$" 10.250.202.2/30
bc_background "plk-wsa$$" "$bc_work/ws-a.log" "$loadgen" --responder --host WS-A --duration-s 900 --delay2-ms 100
bc_wait 20 "the responder" grep -q 'listening on' "$bc_work/ws-a.log"
recorded=$bc_work/ws-b.datagrams
bc_background "plk-wsb$$" "$bc_work/ws-b.log" timeout 900 python3 -c '
import socket, sys
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind(("0.0.0.0", 47127))
with open(sys.argv[1], "ab", buffering=0) as out:
    while True:
        out.write(s.recvfrom(4096)[0].replace(b"\n", b" ") + b"\n")
' "$recorded"
touch "$recorded"

bc_step "root with cron and ./plinket-send (apt)"
start=$SECONDS
bc_root srv cron "$common_deb" "$send_deb"
echo "plinket-send and its dependencies: $(grep -c '^Setting up' "$bc_work/srv-install.log") packages set up (cron's included)"
root=$(bc_dir srv)
bc_boot srv "plk-srv$$"
bc_step "booted in $((SECONDS - start)) s"

bc_step "set-up as the README shows it"
bc_readme_block "$readme" "adduser --system" >"$root/root/setup.sh"
bc_exec srv sh -e /root/setup.sh
clients() {
    printf '\xEF\xBB\xBF;Plinket Clients v2\r\n[+Admins]\r\n  WS-A = 10.250.201.2\r\n%s[-Admins]\r\n' "$1" >"$root/root/clients.ini"
    printf '[+Accounting]\r\n  ACC = 10.250.201.2\r\n[-Accounting]\r\n  WS-B = 10.250.202.2\r\n' >>"$root/root/clients.ini"
    bc_exec srv install -o plinket -g plinket -m 644 /root/clients.ini /srv/plinket/
}
clients ""

bc_step "monitoring alert: every admin reached, then one that cannot be"
mkdir -p "$root/srv/shares" "$root/usr/local/lib/monitoring"
bc_readme_block "$readme" "/usr/local/lib/monitoring/disk-full-alert" >"$root/usr/local/lib/monitoring/disk-full-alert"
chmod 755 "$root/usr/local/lib/monitoring/disk-full-alert"
bc_exec srv /usr/local/lib/monitoring/disk-full-alert
alerts() { [ "$(bc_exec srv journalctl -q -o cat -t disk-full-alert | grep -c 'not every admin has seen')" = "$1" ]; }
alerts 0 || bc_fail "the alert says an admin was not reached, but the responder answers"
clients "  Gone = ghost.invalid"$'\r\n'
bc_exec srv /usr/local/lib/monitoring/disk-full-alert
bc_wait 10 "the alert's log line for an admin it could not reach" alerts 1
grep -q 'percent full' "$recorded" && bc_fail "the alert reached a workstation outside Admins"
echo "alert: logged only when an admin was not reached"

bc_step "cron job (every minute instead of Fridays 16:00)"
bc_readme_block "$readme" "/etc/cron.d/plinket-backup-reminder" | sed 's/^0 16 \* \* 5 /* * * * * /' \
    >"$root/etc/cron.d/plinket-backup-reminder"
chmod 644 "$root/etc/cron.d/plinket-backup-reminder"
bc_wait 150 "the cron job's line in /var/log/plinket-reminders.log" \
    grep -q $'^ACC\t= Confirmed in ' "$root/var/log/plinket-reminders.log"
echo "cron job logged: $(head -1 "$root/var/log/plinket-reminders.log")"
rm "$root/etc/cron.d/plinket-backup-reminder"

bc_step "shutdown unit: enabled, then a reboot and a power-off"
unit=$(bc_readme_block "$readme" "/etc/systemd/system/plinket-shutdown-warning.service")
printf '%s' "$unit" >"$root/etc/systemd/system/plinket-shutdown-warning.service"
enable=$(sed -n '1s/.*(\(systemctl [^)]*\)).*/\1/p' <<<"$unit")
[ -n "$enable" ] || bc_fail "the unit's first line names no systemctl command"
bc_exec srv $enable
warnings() { [ "$(grep -c 'going down now' "$recorded")" = "$1" ]; }
warnings 0 || bc_fail "a warning was sent before any shutdown"
bc_shutdown srv reboot
bc_wait 10 "the warning of the reboot" warnings 1
bc_exec srv systemctl is-active -q plinket-shutdown-warning || bc_fail "the unit is not active after the reboot"
bc_shutdown srv poweroff
bc_wait 10 "the warning of the power-off" warnings 2
echo "shutdown unit: one warning at the reboot, one at the power-off"
bc_step "done"
