#!/bin/sh
# Usage: with_private_journal.sh PROGRAM [ARGS...]
# As root, runs PROGRAM in a private mount namespace whose /run is an empty tmpfs, with
# PLINKET_PRIVATE_JOURNAL=1 so the test binds its own journal socket there. Where the system allows it,
# /etc becomes a copy-on-write layer kept in that /run (PLINKET_PRIVATE_ETC=1), so the test may put
# files such as /etc/plinket/client.conf in place for the programs it starts, unseen by anyone else.
# Otherwise runs PROGRAM as is.
if [ "$(id -u)" = 0 ] && command -v unshare >/dev/null 2>&1 &&
    unshare --mount --propagation private true 2>/dev/null; then
    exec unshare --mount --propagation private -- sh -c '
        mount -t tmpfs plinket-run /run && mkdir -p /run/systemd/journal /run/plinket-etc/upper /run/plinket-etc/work &&
        if mount -t overlay plinket-etc -o lowerdir=/etc,upperdir=/run/plinket-etc/upper,workdir=/run/plinket-etc/work \
            /etc 2>/dev/null; then export PLINKET_PRIVATE_ETC=1; fi &&
        PLINKET_PRIVATE_JOURNAL=1 exec "$@"' \
        sh "$@"
fi
exec "$@"
