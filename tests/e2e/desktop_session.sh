#!/bin/bash
# Usage: desktop_session.sh SESSION FOLDER
#   SESSION: mutter-x11 | mutter-xwayland | mutter-wayland | kwin-x11 | kwin-xwayland | kwin-wayland |
#            xfwm4-x11 | openbox-x11
# Starts a desktop session of Debian's own window managers on a virtual screen: Xvfb :80 (1280 x 800), a
# private session bus, and mutter (GNOME) or KWin (KDE), either as the X11 window manager of :80 or as a
# Wayland compositor nested in it, with or without XWayland; or xfwm4 (Xfce) or openbox (LXDE, LXQt) as
# the X11 window manager of :80, each with its packaged defaults (4 workspaces). Input sent to :80 reaches the compositor as
# a person's would. Prints the environment a program of the session needs as NAME=value lines, then
# READY. Where a program the session needs is not installed it prints one line "UNAVAILABLE: reason";
# where the session does not come up (a compositor that dies or never gets ready is started a second
# time) it prints "FAILED: reason" and the compositor's last words; either way it exits 1. For the screen
# lockers, whose unlocking needs a user with a password (they refuse root), this namespace's /etc gets the
# user plinketlock (uid 64999) with the password "unlock-1234"; printed as LOCK_USER=name:uid:password.
# Then runs
# until terminated (SIGTERM to this script alone) and takes the whole session down with it. Meant for a
# private mount and network namespace (with_private_desktop.sh): display numbers and sockets are fixed.
set -u
session=$1
folder=$2
log=$folder/compositor.log
mkdir -p "$folder"
# Takes the session down: the compositor first, while its X server is still there (KWin on X11 that loses
# its display restarts itself, outside this script's reach), then the whole process group, waiting for it:
# an X server whose process is not yet reaped keeps its display number taken.
compositor=
stop_session() {
    trap '' TERM
    [ -n "$compositor" ] && kill "$compositor" 2>/dev/null && wait "$compositor"
    kill 0 2>/dev/null
    wait
}
trap stop_session EXIT
trap 'exit 143' TERM INT

give_up() {
    echo "$1"
    [ -f "$log" ] && tail -n 5 "$log" | sed 's/^/  /'
    exit 1
}
unavailable() { give_up "UNAVAILABLE: $1"; }

# Polls a condition for up to 45 seconds (a loaded machine starts a compositor slowly); gives up at once
# when the compositor, if one was started, has ended.
wait_for() {
    local deadline=$((SECONDS + 45))
    while [ $SECONDS -lt $deadline ]; do
        if "$@" >/dev/null 2>&1; then return 0; fi
        if [ -n "$compositor" ] && ! kill -0 "$compositor" 2>/dev/null; then return 1; fi
        sleep 0.1
    done
    return 1
}
window_manager_on() { DISPLAY=$1 xprop -root _NET_SUPPORTING_WM_CHECK | grep -q 'window id'; }
# The compositor's XWayland takes the first free display number and, with mutter, keeps its key in the
# runtime folder: found by asking every display but :80 for its window manager.
xwayland_ready() {
    XAUTHORITY=$(ls "$XDG_RUNTIME_DIR"/.mutter-Xwaylandauth.* 2>/dev/null | head -n 1)
    export XAUTHORITY
    for socket in /tmp/.X11-unix/X*; do
        x11=:${socket##*/X}
        [ "$x11" != :80 ] && window_manager_on "$x11" && return 0
    done
    return 1
}

for tool in Xvfb dbus-daemon xprop; do
    command -v "$tool" >/dev/null || unavailable "$tool is not installed"
done
case $session in
mutter-*) command -v mutter >/dev/null || unavailable "mutter is not installed" ;;
kwin-x11) command -v kwin_x11 >/dev/null || unavailable "kwin_x11 is not installed" ;;
kwin-*) command -v kwin_wayland >/dev/null || unavailable "kwin_wayland is not installed" ;;
xfwm4-x11) command -v xfwm4 >/dev/null || unavailable "xfwm4 is not installed" ;;
openbox-x11) command -v openbox >/dev/null || unavailable "openbox is not installed" ;;
*) unavailable "unknown session $session" ;;
esac
case $session in
*-xwayland) command -v Xwayland >/dev/null || unavailable "Xwayland is not installed" ;;
esac

export XDG_RUNTIME_DIR=$folder/runtime
mkdir -p -m 700 "$XDG_RUNTIME_DIR"
mkdir -p -m 1777 /tmp/.X11-unix
Xvfb :80 -screen 0 1280x800x24 -dpi 96 -br -nolisten tcp >"$folder/xvfb.log" 2>&1 &
wait_for test -S /tmp/.X11-unix/X80 || give_up "FAILED: Xvfb did not start"
# In the foreground of this process group (a forked bus would leave the group and outlive the session).
dbus-daemon --session --nofork --print-address=1 >"$folder/bus" 2>/dev/null &
wait_for test -s "$folder/bus" || give_up "FAILED: no session bus"
DBUS_SESSION_BUS_ADDRESS=$(head -n 1 "$folder/bus")
export DBUS_SESSION_BUS_ADDRESS

# kwin_wayland carries a file capability; where the container's bounding set lacks it the packaged binary
# cannot be executed at all, while a copy (without the capability) runs.
kwin_wayland=$(command -v kwin_wayland)
if [ "${session%%-*}" = kwin ] && ! "$kwin_wayland" --version >/dev/null 2>&1; then
    cp "$kwin_wayland" "$folder/kwin_wayland" && kwin_wayland=$folder/kwin_wayland
fi

wayland=plinket-wl-80
x11=:80
type=wayland
case $session in
*-x11) type=x11 ;;
*-wayland) x11= ;;
esac

# Starts the compositor and waits until the session can take programs.
start_compositor() {
    case $session in
    mutter-x11) DISPLAY=:80 mutter --x11 --replace >"$log" 2>&1 & ;;
    kwin-x11) DISPLAY=:80 kwin_x11 --replace >"$log" 2>&1 & ;;
    xfwm4-x11) DISPLAY=:80 xfwm4 --replace >"$log" 2>&1 & ;;
    openbox-x11) DISPLAY=:80 openbox --sm-disable >"$log" 2>&1 & ;;
    mutter-*)
        local options=(--wayland --nested --wayland-display="$wayland")
        [ "$session" = mutter-wayland ] && options+=(--no-x11)
        DISPLAY=:80 MUTTER_DEBUG_DUMMY_MODE_SPECS=1280x800 mutter "${options[@]}" >"$log" 2>&1 &
        ;;
    kwin-*)
        local options=(--x11-display :80 --width 1280 --height 800 --socket "$wayland")
        [ "$session" = kwin-xwayland ] && options+=(--xwayland)
        "$kwin_wayland" "${options[@]}" >"$log" 2>&1 &
        ;;
    esac
    compositor=$!
    case $session in
    *-x11) wait_for window_manager_on :80 ;;
    *-xwayland) wait_for test -S "$XDG_RUNTIME_DIR/$wayland" && wait_for xwayland_ready ;;
    *) wait_for test -S "$XDG_RUNTIME_DIR/$wayland" ;;
    esac
}
if ! start_compositor; then
    kill "$compositor" 2>/dev/null
    wait "$compositor" 2>/dev/null
    rm -f "$XDG_RUNTIME_DIR/$wayland"
    start_compositor || give_up "FAILED: ${session%%-*} did not start twice"
fi
[ "$type" = x11 ] && wayland=

# The user for the screen lockers, in copies of the account files mounted over them in this namespace only.
lock_user() {
    local d=$folder/accounts
    mkdir -p "$d/home" && cp -p /etc/passwd /etc/shadow /etc/group "$d/" || return 1
    echo 'plinketlock:x:64999:64999:Plinket screen locker test:'"$d"'/home:/bin/sh' >>"$d/passwd"
    # SHA-512 crypt of "unlock-1234"
    echo 'plinketlock:$6$plinket$lCCX9Vm61YfhuapFhXlJ07TU4sGWBKIpoNontF3eRdqf/ipukbVyJFXkza2qkVO9f5aACMJXZpZWmzM6iXerY0:19000:0:99999:7:::' >>"$d/shadow"
    echo 'plinketlock:x:64999:' >>"$d/group"
    chown 64999:64999 "$d/home" && chmod 755 "$folder" "$d"
    for f in passwd shadow group; do mount --bind "$d/$f" "/etc/$f" || return 1; done
    echo "LOCK_USER=plinketlock:64999:unlock-1234"
}
[ "$type" = x11 ] && [ "$(id -u)" = 0 ] && [ -n "${PLINKET_PRIVATE_DESKTOP:-}" ] && lock_user

echo "XDG_RUNTIME_DIR=$XDG_RUNTIME_DIR"
echo "DBUS_SESSION_BUS_ADDRESS=$DBUS_SESSION_BUS_ADDRESS"
echo "XDG_SESSION_TYPE=$type"
echo "DISPLAY=$x11"
echo "WAYLAND_DISPLAY=$wayland"
echo "XAUTHORITY=${XAUTHORITY:-}"
echo READY
wait
