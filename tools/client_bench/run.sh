#!/bin/sh
# Runs plinket_client_bench in a network namespace of its own (as root), so that ports 47127 and 47128
# are its own, and in a mount namespace of its own whose /etc is a throw-away layer over the real one
# (the flood measurement puts a trusted key and client.conf in /etc/plinket there, seen by nobody else;
# it also gets an empty /run, so the drops the client journals under the flood reach no real journal).
# Usage: tools/client_bench/run.sh [offscreen|xvfb|xvfb-dbus] [bench options]
#   offscreen  Qt's offscreen platform (default)
#   xvfb       a private Xvfb display and the xcb platform: exposure by a real X server
#   xvfb-dbus  the same with a private session bus, so the display wake-up call goes out over D-Bus
# Build first: cmake --build <build> --target plinket_client_bench (BUILD_DIR names the build, default build/).
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=${BUILD_DIR:-$here/../../build}
bench=$build/tools/client_bench/plinket_client_bench
mode=${1:-offscreen}
[ $# -gt 0 ] && shift
case $mode in
offscreen) prefix="env QT_QPA_PLATFORM=offscreen" ;;
xvfb) prefix="xvfb-run -a -s '-screen 0 1280x800x24' env QT_QPA_PLATFORM=xcb" ;;
xvfb-dbus) prefix="dbus-run-session -- xvfb-run -a -s '-screen 0 1280x800x24' env QT_QPA_PLATFORM=xcb" ;;
*) echo "usage: $0 [offscreen|xvfb|xvfb-dbus] [options]" >&2; exit 2 ;;
esac
private_run=false
case " $* " in *" --flood "*) private_run=true ;; esac
layer=$(mktemp -d)
trap 'rmdir "$layer"' EXIT
# Qt's offscreen platform warns at every pop-up that it cannot raise windows; that line is left out.
unshare --net --mount --propagation private sh -c "
    ip link set lo up &&
    if mount -t tmpfs plinket-bench \"\$1\" && mkdir \"\$1/upper\" \"\$1/work\" &&
        mount -t overlay plinket-bench -o lowerdir=/etc,upperdir=\"\$1/upper\",workdir=\"\$1/work\" /etc; then
        export PLINKET_BENCH_PRIVATE_ETC=1
    fi &&
    if $private_run; then mount -t tmpfs plinket-run /run; fi &&
    shift && unset DBUS_SESSION_BUS_ADDRESS && exec $prefix \"\$@\"" sh "$layer" "$bench" "$@" 2>&1 |
    grep -v -e 'This plugin does not support raise()' -e 'Failed to set fd limit'
