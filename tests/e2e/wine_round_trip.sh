#!/usr/bin/env bash
# The Windows packages installed, run and removed under wine, against the Linux programs, on a virtual
# X display in a network of the test's own (run under with_private_desktop.sh, as root):
#   1. plinket-client.msi and plinket-server.msi install silently (msiexec /qn): the program folders,
#      the client's start at logon, the three event-log sources naming the installed programs, the
#      console's Start menu entry, the folder for trusted keys.
#   2. The installed plinket_client.exe receives a message from the Linux plinket_send: its pop-up is
#      on screen and the report "1" has come back (with this computer's host and DNS names); a click
#      on OK brings the report "2".
#   3. The installed plinket_send.exe reaches the Linux plinket_client: the Linux pop-up is on screen
#      and plinket_send.exe counts it delivered.
#   4. Both packages uninstall silently and leave no file, registry value or menu entry behind.
# Usage: wine_round_trip.sh WINDOWS_BUILD LINUX_PLINKET_SEND LINUX_PLINKET_CLIENT
# Exit code 77 (skipped) without root (no private network), 1 on the first failure.
set -euo pipefail
windows_build=$(realpath "$1")
linux_send=$(realpath "$2")
linux_client=$(realpath "$3")
[ "${PLINKET_PRIVATE_DESKTOP:-}" = 1 ] || { echo "SKIP: needs root for a network of its own"; exit 77; }

work=$(mktemp -d)
# Beside the build's prefix, so that its 600 MB of system files are hard links rather than copies.
prefix=$windows_build/wine-round-trip-$$
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
    wait 2>/dev/null || true
    rm -rf "$work" "$prefix"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; exit 1; }
# Retries a command for up to $wait_for seconds (wine starts programs slowly on a loaded machine).
wait_for=60
eventually() {
    local end=$((SECONDS + wait_for))
    until "$@"; do
        [ $SECONDS -lt $end ] || return 1
        sleep 0.2
    done
}
window() { xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n 1; }
shown() { [ -n "$(window "$1")" ]; }
listening() { ss -Hlun "sport = :$1" | grep -q .; }

# A prefix of the test's own: its wineserver starts in this network, so the programs' sockets live
# here (wine creates them in the server). A copy of the build's prefix saves creating one; wine
# replaces its registry files rather than writing into them, so the links are never written through.
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
if [ -f "$windows_build/wineprefix/system.reg" ]; then
    cp -al "$windows_build/wineprefix" "$WINEPREFIX"
    rm -f "$WINEPREFIX"/*.reg && cp -p "$windows_build/wineprefix"/*.reg "$WINEPREFIX"/
else
    wineboot --init >/dev/null 2>&1 || fail "wine could not create its prefix"
fi
drive=$WINEPREFIX/drive_c
reg_value() { wine reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' | sed -n "s/^ *$2 *REG_[A-Z_]* *//p"; }
eventlog='HKLM\SYSTEM\CurrentControlSet\services\eventlog\Application'
run_key='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Run'
# Windows puts a per-machine package's shortcut into every user's menu (ProgramData); wine's msiexec
# puts it into the installing user's own.
menu_entries=("$drive/ProgramData/Microsoft/Windows/Start Menu/Programs/Plinket Server.lnk"
    "$drive/users/$(id -un)/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/Plinket Server.lnk")
menu_entry() {
    local entry
    for entry in "${menu_entries[@]}"; do [ -e "$entry" ] && return 0; done
    return 1
}

Xvfb :90 -screen 0 1280x800x24 -dpi 96 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
eventually test -S /tmp/.X11-unix/X90 || fail "no virtual display"
export DISPLAY=:90
cd "$work"

# ---- 1. Silent installation ---------------------------------------------------------------------
for package in client server; do
    wine msiexec /i "$windows_build/packages/plinket-$package.msi" /qn ||
        fail "msiexec /i plinket-$package.msi /qn failed"
done
client_dir='C:\Program Files\Plinket\Client'
server_dir='C:\Program Files\Plinket\Server'
for file in Client/plinket_client.exe Client/platforms/qwindows.dll Server/plinket_server.exe Server/plinket_send.exe; do
    [ -f "$drive/Program Files/Plinket/$file" ] || fail "$file is not installed"
done
[ "$(reg_value "$eventlog\\Plinket Client" EventMessageFile)" = "$client_dir\\plinket_client.exe" ] ||
    fail "the event source Plinket Client does not name the installed client"
wine reg query "$eventlog\\Plinket Client" /v EventMessageFile | grep -q REG_EXPAND_SZ ||
    fail "the client's message file is not a REG_EXPAND_SZ value"
[ "$(reg_value "$eventlog\\Plinket Server" EventMessageFile)" = "$server_dir\\plinket_server.exe" ] ||
    fail "the event source Plinket Server does not name the installed console"
[ "$(reg_value "$eventlog\\Plinket Send" EventMessageFile)" = "$server_dir\\plinket_send.exe" ] ||
    fail "the event source Plinket Send does not name the installed plinket_send"
[ "$(reg_value "$run_key" "Plinket Client")" = "\"$client_dir\\plinket_client.exe\"" ] ||
    fail "the client does not start at logon"
menu_entry || fail "no Start menu entry for the console"
[ -d "$drive/ProgramData/Plinket/trusted-keys" ] || fail "no folder for trusted keys"
# Windows' installer service creates that folder as SYSTEM, so the Administrators own it; under wine the
# installing user does, and the client rightly refuses a folder a user owns (it then requires signatures
# and trusts no key). The unsigned round trip below runs as on a workstation without the folder.
rm -r "$drive/ProgramData/Plinket/trusted-keys"

# ---- 2. The Windows client, the Linux sender ----------------------------------------------------
# A stand-in for the console's report port: prints each report as ID|STATUS|HOST|FQDN.
python3 -u -c '
import socket
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind(("127.0.0.1", 47128))
while True:
    data, _ = s.recvfrom(4096)
    print("|".join(data.decode("utf-8", "replace").split("\x04")[:4]))
' >reports 2>&1 &
listener=$!
pids+=($listener)
eventually listening 47128 || fail "the report listener did not start"
wine "$client_dir\\plinket_client.exe" >client.log 2>&1 &
pids+=($!)
eventually listening 47127 || fail "plinket_client.exe does not listen on UDP 47127: $(cat client.log)"
"$linux_send" --host 127.0.0.1 --lang EN --wait 0 "Hello from Linux" >send.log 2>&1 ||
    fail "the Linux plinket_send did not send: $(cat send.log)"
eventually shown '^Message$' || fail "the pop-up of plinket_client.exe is not on screen"
eventually grep -q '|1|' reports || fail "no report 1 while the pop-up is on screen"
IFS='|' read -r _ _ host fqdn < <(grep '|1|' reports)
expected=$(hostname | tr '[:lower:]' '[:upper:]')
[ "$host" = "$expected" ] || fail "the report names the host '$host', not '$expected'"
[[ "$fqdn" == "${expected%%.*}"* && "$fqdn" != *' '* ]] || fail "the report's DNS name is '$fqdn'"
! grep -q '|2|' reports || fail "a report 2 came before OK was pressed"
# OK is centred 35 pixels above the bottom of the client area (client/popup_layout.h).
popup=$(window '^Message$')
eval "$(xdotool getwindowgeometry --shell "$popup")"
# A click within half a second of the pop-up becoming visible does not count: click until "2" comes.
press_ok() {
    xdotool mousemove --window "$popup" $((WIDTH / 2)) $((HEIGHT - 35 + 12)) click 1
    wait_for=2 eventually grep -q '|2|' reports
}
eventually press_ok || fail "no report 2 after a click on OK"
wait_for=10 eventually bash -c "! xdotool search --onlyvisible --name '^Message$' >/dev/null" ||
    fail "the pop-up stayed after OK"
wineserver -k
eventually bash -c '! ss -Hlun "sport = :47127" | grep -q .' || fail "plinket_client.exe did not end"

# ---- 3. The Windows sender, the Linux client ----------------------------------------------------
kill "$listener" # the report port is plinket_send.exe's now
QT_QPA_PLATFORM=xcb "$linux_client" >linux-client.log 2>&1 &
pids+=($!)
eventually listening 47127 || fail "the Linux client does not listen: $(cat linux-client.log)"
code=0
wine "$server_dir\\plinket_send.exe" --host 127.0.0.1 --lang EN --require delivered --wait 60 \
    "Hello from Windows" >send.log 2>&1 || code=$?
tr -d '\r' <send.log | grep -q $'^127.0.0.1\t= Delivered in ' && [ "$code" -eq 0 ] ||
    fail "plinket_send.exe did not reach the Linux client (exit code $code): $(cat send.log)"
shown '^Message$' || fail "the Linux client's pop-up is not on screen"

# ---- 4. Silent removal --------------------------------------------------------------------------
for package in client server; do
    wine msiexec /x "$windows_build/packages/plinket-$package.msi" /qn ||
        fail "msiexec /x plinket-$package.msi /qn failed"
done
[ ! -e "$drive/Program Files/Plinket" ] || fail "left behind: $(find "$drive/Program Files/Plinket")"
! menu_entry || fail "the Start menu entry is left behind"
# Only the workstation's own report key, which the client made at its start, may stay (as on Linux when
# the package is removed but not purged): a reinstalled client keeps the identity consoles pinned.
left=$(find "$drive/ProgramData/Plinket" -mindepth 1 ! -name workstation.key 2>/dev/null || true)
[ -z "$left" ] || fail "left behind: $left"
for source in Client Server Send; do
    ! wine reg query "$eventlog\\Plinket $source" >/dev/null 2>&1 || fail "the event source Plinket $source is left"
done
[ -z "$(reg_value "$run_key" "Plinket Client")" ] || fail "the client still starts at logon"
echo "PASS: installed, ran against Linux both ways, removed"
