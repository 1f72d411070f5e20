#!/bin/sh
# Usage: with_private_journal.sh PROGRAM [ARGS...]
# As root, runs PROGRAM in a private mount namespace whose /run is an empty tmpfs, with
# PLINKET_PRIVATE_JOURNAL=1 so the test binds its own journal socket there. Otherwise runs it as is.
if [ "$(id -u)" = 0 ] && command -v unshare >/dev/null 2>&1 &&
    unshare --mount --propagation private true 2>/dev/null; then
    exec unshare --mount --propagation private -- sh -c \
        'mount -t tmpfs plinket-run /run && mkdir -p /run/systemd/journal && PLINKET_PRIVATE_JOURNAL=1 exec "$@"' \
        sh "$@"
fi
exec "$@"
