#!/usr/bin/env bash
# The console on a virtual X display under a real window manager (Xvfb and openbox), driven as a
# user drives it: xdotool moves the pointer, clicks and types on the X server; wmctrl asks the
# window manager to close a window, which sends the window WM_DELETE_WINDOW.
#   1. Settings opened from the menu, broadcast ticked, an address typed into the address field.
#      A close request to the main window closes only Settings; a second one ends the console with
#      exit code 0, and config.ini holds exactly the address typed.
#   2. The console's test build faults on a worker thread (SIGUSR1) and its crash box appears. A
#      close request to the main window changes nothing: the console keeps waiting for the box and
#      config.ini is untouched. Closing the box ends the console with exit code 0 and config.ini
#      byte for byte as before.
# Usage: console_under_window_manager.sh PLINKET_SERVER PLINKET_SERVER_FOR_TESTS
# Exit code 77 (skipped) when a tool is missing; scripts/install-deps installs them all.
set -euo pipefail
server=$(realpath "$1")
test_build=$(realpath "$2")
for tool in Xvfb openbox xdotool wmctrl; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done

work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; exit 1; }
# Retries a command for up to 10 s.
eventually() {
    for _ in $(seq 100); do "$@" && return 0; sleep 0.1; done
    return 1
}
window() { xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n 1; }
shown() { [ -n "$(window "$1")" ]; }
gone() { ! shown "$1"; }

# A display of our own: the first free one from :90 on.
for n in $(seq 90 99); do
    [ -e "/tmp/.X$n-lock" ] && continue
    Xvfb ":$n" -screen 0 1280x800x24 -dpi 96 -nolisten tcp >/dev/null 2>&1 &
    pids+=($!)
    if eventually test -S "/tmp/.X11-unix/X$n" && kill -0 "$!" 2>/dev/null; then
        export DISPLAY=":$n"
        break
    fi
done
[ -n "${DISPLAY:-}" ] || fail "no virtual display could be started"
export QT_QPA_PLATFORM=xcb
unset WAYLAND_DISPLAY
openbox --sm-disable >/dev/null 2>&1 &
pids+=($!)
eventually wmctrl -m >/dev/null 2>&1 || fail "the window manager did not start"

main='^Plinket Server v1.40$'
config=$'\xEF\xBB\xBF[Common]\r\nLanguage = EN\r\nScreenRes = 1280*800\r\n'
cd "$work"

# ---- 1. Address typed through the field, close request while Settings is open -------------------
printf '%s' "$config" >config.ini
"$server" &
console=$!
pids+=("$console")
eventually shown "$main" || fail "the main window did not appear"
xdotool mousemove --window "$(window "$main")" 425 170 click 1 # the menu button
sleep 0.5
xdotool key --delay 100 Down Return # first item: Settings
eventually shown '^Settings$' || fail "Settings did not open"
settings=$(window '^Settings$')
xdotool mousemove --window "$settings" 15 20 click 1 # broadcast check box
xdotool mousemove --window "$settings" 20 50 click 1 # first number of the address
xdotool type --delay 60 192.168.1.255
wmctrl -i -c "$(window "$main")"
eventually gone '^Settings$' || fail "closing the main window did not close Settings"
shown "$main" || fail "closing the main window while Settings was open closed the main window"
wmctrl -i -c "$(window "$main")"
code=0
wait "$console" || code=$?
[ "$code" -eq 0 ] || fail "the console ended with exit code $code"
grep -q $'^Broadcast = 1\r$' config.ini || fail "broadcast not saved: $(cat config.ini)"
grep -q $'^Broadcast_IP = 192.168.1.255\r$' config.ini || fail "wrong address saved: $(cat config.ini)"

# ---- 2. Fault on a worker thread, close request while the crash box is open ---------------------
printf '%s' "$config" >config.ini
cp config.ini config.before
"$test_build" &
console=$!
pids+=("$console")
eventually shown "$main" || fail "the main window of the test build did not appear"
kill -USR1 "$console"
eventually shown '^Error!$' || fail "the crash box did not appear"
wmctrl -i -c "$(window "$main")"
sleep 1
kill -0 "$console" 2>/dev/null || fail "the console ended while its crash box was open"
cmp -s config.ini config.before || fail "config.ini changed while the crash box was open"
wmctrl -i -c "$(window '^Error!$')"
code=0
wait "$console" || code=$?
[ "$code" -eq 0 ] || fail "the crashed console ended with exit code $code"
cmp -s config.ini config.before || fail "config.ini changed after the crash"
echo "PASS"
