#!/bin/sh
# Usage: with_private_desktop.sh PROGRAM [ARGS...]
# As root, runs PROGRAM with a network, /tmp and /run of its own (empty tmpfs), with only loopback up and
# PLINKET_PRIVATE_DESKTOP=1 and PLINKET_PRIVATE_JOURNAL=1 set: its X displays, Wayland sockets, UDP ports
# and journal socket meet nobody else's. Otherwise runs it as is (the desktop tests then skip).
# The folders of the real /tmp come back into the private one (a checkout or build tree may live
# there); its hidden entries (.X11-unix, .X0-lock, ...) stay out.
if [ "$(id -u)" = 0 ] && command -v unshare >/dev/null 2>&1 &&
    unshare --mount --net --propagation private true 2>/dev/null; then
    exec unshare --mount --net --propagation private -- sh -c '
        PATH=$PATH:/usr/sbin:/sbin
        mount -t tmpfs plinket-run /run && mkdir -p /run/systemd/journal /run/plinket-host-tmp &&
        mount --bind /tmp /run/plinket-host-tmp &&
        mount -t tmpfs plinket-tmp /tmp && chmod 1777 /tmp &&
        for d in /run/plinket-host-tmp/*/; do
            [ -d "$d" ] || continue
            d=${d%/}
            mkdir -p "/tmp/${d##*/}" && mount --bind "$d" "/tmp/${d##*/}" || exit 1
        done &&
        ip link set lo up &&
        PLINKET_PRIVATE_DESKTOP=1 PLINKET_PRIVATE_JOURNAL=1 exec "$@"' sh "$@"
fi
exec "$@"
