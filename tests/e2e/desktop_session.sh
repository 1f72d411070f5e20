#!/bin/bash
# Usage: desktop_session.sh SESSION FOLDER
#   SESSION: mutter-x11 | mutter-xwayland | mutter-wayland | kwin-x11 | kwin-xwayland | kwin-wayland
# Starts a desktop session of Debian's own compositors on a virtual screen: Xvfb :80 (1280 x 800), a
# private session bus, and mutter (GNOME) or KWin (KDE), either as the X11 window manager of :80 or as a
# Wayland compositor nested in it, with or without XWayland. Input sent to :80 reaches the compositor as
# a person's would. Prints the environment a program of the session needs as NAME=value lines, then
# READY; or one line "UNAVAILABLE: reason" and exits 1. Then runs until terminated and takes the whole
# session down with it. Meant for a private mount and network namespace (with_private_desktop.sh): the
# X display numbers and socket names are fixed.
set -u
session=$1
folder=$2
log=$folder/compositor.log
mkdir -p "$folder"
trap 'trap - TERM EXIT; kill 0 2>/dev/null' TERM INT EXIT

unavailable() {
    echo "UNAVAILABLE: $1"
    [ -f "$log" ] && tail -n 5 "$log" | sed 's/^/  /'
    exit 1
}

# Polls a condition for up to 20 seconds.
wait_for() {
    for _ in $(seq 200); do
        if "$@" >/dev/null 2>&1; then return 0; fi
        sleep 0.1
    done
    return 1
}
window_manager_on() { DISPLAY=$1 xprop -root _NET_SUPPORTING_WM_CHECK | grep -q 'window id'; }

for tool in Xvfb dbus-daemon xprop; do
    command -v "$tool" >/dev/null || unavailable "$tool is not installed"
done

export XDG_RUNTIME_DIR=$folder/runtime
mkdir -p -m 700 "$XDG_RUNTIME_DIR"
mkdir -p -m 1777 /tmp/.X11-unix
Xvfb :80 -screen 0 1280x800x24 -dpi 96 -nolisten tcp >"$folder/xvfb.log" 2>&1 &
wait_for test -S /tmp/.X11-unix/X80 || unavailable "Xvfb did not start"
# In the foreground of this process group (a forked bus would leave the group and outlive the session).
dbus-daemon --session --nofork --print-address=1 >"$folder/bus" 2>/dev/null &
wait_for test -s "$folder/bus" || unavailable "no session bus"
DBUS_SESSION_BUS_ADDRESS=$(head -n 1 "$folder/bus")
export DBUS_SESSION_BUS_ADDRESS

# kwin_wayland carries a file capability; where the container's bounding set lacks it the packaged binary
# cannot be executed at all, while a copy (without the capability) runs.
kwin_wayland_binary() {
    local kwin
    kwin=$(command -v kwin_wayland) || return 1
    if ! "$kwin" --version >/dev/null 2>&1; then
        cp "$kwin" "$folder/kwin_wayland" && kwin=$folder/kwin_wayland
    fi
    echo "$kwin"
}

x11=:80
wayland=
type=x11
case $session in
mutter-x11 | kwin-x11)
    wm=mutter
    [ "$session" = kwin-x11 ] && wm=kwin_x11
    command -v "$wm" >/dev/null || unavailable "$wm is not installed"
    if [ "$wm" = mutter ]; then
        DISPLAY=:80 mutter --x11 --replace >"$log" 2>&1 &
    else
        DISPLAY=:80 kwin_x11 --replace >"$log" 2>&1 &
    fi
    wait_for window_manager_on :80 || unavailable "$wm did not take the X11 screen"
    ;;
mutter-xwayland | mutter-wayland)
    command -v mutter >/dev/null || unavailable "mutter is not installed"
    wayland=plinket-wl-80
    type=wayland
    options=(--wayland --nested --wayland-display=$wayland)
    [ "$session" = mutter-wayland ] && options+=(--no-x11)
    DISPLAY=:80 MUTTER_DEBUG_DUMMY_MODE_SPECS=1280x800 mutter "${options[@]}" >"$log" 2>&1 &
    wait_for test -S "$XDG_RUNTIME_DIR/$wayland" || unavailable "mutter did not start"
    if [ "$session" = mutter-xwayland ]; then
        # mutter takes the first free display (here the namespace's own :0) and keeps its key in the runtime folder.
        x11=:0
        wait_for test -S /tmp/.X11-unix/X0 || unavailable "mutter started no XWayland"
        XAUTHORITY=$(ls "$XDG_RUNTIME_DIR"/.mutter-Xwaylandauth.* 2>/dev/null | head -n 1)
        export XAUTHORITY
    fi
    ;;
kwin-xwayland | kwin-wayland)
    kwin=$(kwin_wayland_binary) || unavailable "kwin_wayland is not installed"
    wayland=plinket-wl-80
    type=wayland
    options=(--x11-display :80 --width 1280 --height 800 --socket $wayland)
    [ "$session" = kwin-xwayland ] && options+=(--xwayland)
    "$kwin" "${options[@]}" >"$log" 2>&1 &
    wait_for test -S "$XDG_RUNTIME_DIR/$wayland" || unavailable "kwin_wayland did not start"
    [ "$session" = kwin-xwayland ] && x11=:0
    ;;
*)
    unavailable "unknown session $session"
    ;;
esac
if [ "$type" = wayland ] && [ "$x11" = :0 ]; then
    wait_for window_manager_on :0 || unavailable "XWayland has no window manager"
fi
[ "$type" = wayland ] && [ "$x11" = :80 ] && x11=

echo "XDG_RUNTIME_DIR=$XDG_RUNTIME_DIR"
echo "DBUS_SESSION_BUS_ADDRESS=$DBUS_SESSION_BUS_ADDRESS"
echo "XDG_SESSION_TYPE=$type"
echo "DISPLAY=$x11"
echo "WAYLAND_DISPLAY=$wayland"
echo "XAUTHORITY=${XAUTHORITY:-}"
echo READY
wait
