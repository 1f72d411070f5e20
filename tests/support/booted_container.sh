# Booted Debian 12 containers for tests, to be sourced by a bash test script (set -euo pipefail).
#
#   source tests/support/booted_container.sh
#   bc_init "$build/container-test" boot # skips (exit 77) without root, nspawn or the mirror
#   bc_network lab; bc_network peer      # network namespaces of the test's own
#   bc_link lab 10.250.9.1/30 peer 10.250.9.2/30  # a veth pair between them
#   bc_root ws1 cron ./plinket-send.deb  # a fresh root from the cached base, packages installed with apt
#   bc_boot ws1 lab                      # systemd-nspawn -b in namespace lab; returns once systemd runs
#   bc_exec ws1 systemctl status cron    # a command inside, with the container's namespaces and root
#   bc_wait 60 "the log" bc_exec ws1 test -s /var/log/x   # a bounded wait for a condition
#   bc_shutdown ws1 reboot               # reboot (returns once it runs again) or poweroff
#   bc_exec ws1 systemd-run -q --unit=s-alice -p PAMName=login -p User=alice -p TTYPath=/dev/null \
#       -E XDG_SESSION_TYPE=x11 PROGRAM    # a logind session of user alice running PROGRAM
#
# One base root (debootstrap minbase with systemd, dbus and logind's PAM module) is kept as a tarball
# in the cache folder, with every package apt downloads, so only the first test of a fresh build tree
# pays for debootstrap and downloads. Packages go in while the root is a plain chroot with this
# machine's network; once booted, a container sees only the network namespace the test gives it.
# Everything started here is ended by bc_cleanup, which runs at exit.

bc_suite=bookworm
bc_cache=
bc_work=
declare -A bc_pid=()     # container name -> pid of its systemd-nspawn
declare -A bc_netns=()   # container name -> network namespace it boots in
bc_namespaces=()
bc_helpers=()            # pids of bc_background programs

bc_skip() {
    echo "SKIPPED: $*"
    exit 77
}
bc_fail() {
    echo "FAILED: $*"
    exit 1
}
bc_step() { echo "== $(date +%T) $*"; }

# Runs "$@" until it succeeds, at most SECONDS; fails naming WHAT otherwise.
bc_wait() {
    local seconds=$1 what=$2
    shift 2
    local deadline=$((SECONDS + seconds))
    until "$@" >/dev/null 2>&1; do
        [ "$SECONDS" -lt "$deadline" ] || bc_fail "waited ${seconds} s for $what"
        sleep 0.5
    done
}

# The mirror this machine's apt uses for Debian itself.
bc_mirror() {
    local mirror
    mirror=$(sed -n 's/^URIs: *\([^ ]*\).*/\1/p; s/^deb \+\(\[[^]]*\] \+\)\?\([^ ]*\) \+'"$bc_suite"' .*/\2/p' \
        /etc/apt/sources.list /etc/apt/sources.list.d/*.sources /etc/apt/sources.list.d/*.list 2>/dev/null |
        grep -v -e security -e '^$' | head -1 || true)
    echo "${mirror:-http://deb.debian.org/debian}"
}

# bc_init CACHE_DIR [boot]: checks what the tests need (exit 77 with the reason where something is
# missing), makes sure the base tarball exists, and arms the clean-up. Without "boot" only chroots are
# wanted and systemd-nspawn is not required.
bc_init() {
    bc_cache=$1
    [ "$(id -u)" = 0 ] || bc_skip "needs root (debootstrap, chroot, mounts, systemd-nspawn)"
    command -v debootstrap >/dev/null || bc_skip "debootstrap is missing (scripts/install-deps installs it)"
    if [ "${2:-}" = boot ]; then
        command -v systemd-nspawn >/dev/null || bc_skip "systemd-nspawn is missing (scripts/install-deps installs systemd-container)"
        unshare --net true 2>/dev/null || bc_skip "cannot create network namespaces here"
    fi
    bc_mirror_url=$(bc_mirror)
    wget -q -T 15 -t 2 --spider "$bc_mirror_url/dists/$bc_suite/Release" || bc_skip "cannot reach the mirror $bc_mirror_url"
    mkdir -p "$bc_cache/archives/partial"
    bc_work=$(mktemp -d "$bc_cache/run.XXXXXX")
    chmod 755 "$bc_work" # apt downloads as the unprivileged _apt user
    trap bc_cleanup EXIT
    bc_base
}

# The cached base root: debootstrap minbase plus systemd as init, dbus and pam_systemd (so logind
# sessions can be opened), made once and kept as BASE.tar.
bc_base() {
    bc_base_tar=$bc_cache/$bc_suite-base.tar
    [ -f "$bc_base_tar" ] && return 0
    local root=$bc_work/base
    bc_step "debootstrap $bc_suite (minbase, systemd, dbus) from $bc_mirror_url, once for every test"
    debootstrap --variant=minbase --include=systemd,systemd-sysv,dbus,libpam-systemd \
        --cache-dir="$bc_cache/archives" "$bc_suite" "$root" "$bc_mirror_url" >"$bc_cache/debootstrap.log" 2>&1 || {
        tail -20 "$bc_cache/debootstrap.log"
        bc_fail "debootstrap"
    }
    cp /etc/resolv.conf "$root/etc/resolv.conf"
    chroot "$root" apt-get update -qq || bc_fail "apt-get update in the new root"
    rm -f "$root"/var/cache/apt/archives/*.deb
    tar -C "$root" -cf "$bc_base_tar.part" . && mv "$bc_base_tar.part" "$bc_base_tar"
    rm -rf "$root"
}

# The root folder of container NAME.
bc_dir() { echo "$bc_work/$1"; }

# bc_chroot NAME COMMAND...: runs a command in NAME's root, not booted, with this machine's network, in a
# private mount and PID namespace (its /proc and the package cache vanish with it).
bc_chroot() {
    local root
    root=$(bc_dir "$1")
    shift
    unshare --mount --pid --fork --propagation private -- sh -c '
        root=$1 cache=$2; shift 2
        mount -t proc proc "$root/proc"
        mount --bind "$cache" "$root/var/cache/apt/archives"
        exec chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 DEBIAN_FRONTEND=noninteractive "$@"
    ' sh "$root" "$bc_cache/archives" "$@"
}

# bc_root NAME [PACKAGE|FILE.deb ...]: a fresh root for container NAME from the base, with the packages
# installed by apt (dependencies from the mirror; no service starts while it installs).
bc_root() {
    local name=$1 root
    shift
    root=$(bc_dir "$name")
    mkdir -p "$root"
    tar -C "$root" -xf "$bc_base_tar"
    cp /etc/resolv.conf "$root/etc/resolv.conf"
    echo "$name" >"$root/etc/hostname"
    [ $# -gt 0 ] || return 0
    local args=() p
    mkdir -p "$root/tmp/debs"
    for p in "$@"; do
        if [ -f "$p" ]; then
            cp "$p" "$root/tmp/debs/"
            args+=("/tmp/debs/${p##*/}")
        else
            args+=("$p")
        fi
    done
    printf '#!/bin/sh\nexit 101\n' >"$root/usr/sbin/policy-rc.d"
    chmod 755 "$root/usr/sbin/policy-rc.d"
    # Throwaway roots: dpkg need not sync each file to disk.
    bc_chroot "$name" apt-get install -y -q --no-install-recommends -o Dpkg::Options::=--force-unsafe-io "${args[@]}" >"$bc_work/$name-install.log" 2>&1 || {
        tail -30 "$bc_work/$name-install.log"
        bc_fail "apt-get install in $name"
    }
    rm -f "$root/usr/sbin/policy-rc.d"
    # Booted without a network of the outside world: names that are not in /etc/hosts fail at once.
    echo "nameserver 127.0.0.1" >"$root/etc/resolv.conf"
}

# bc_network NETNS: a network namespace of the test's own, removed at exit.
bc_network() {
    ip netns add "$1" || bc_fail "ip netns add $1"
    bc_namespaces+=("$1")
    ip -n "$1" link set lo up
}

# bc_link NETNS_A ADDRESS_A NETNS_B ADDRESS_B: a veth pair between two of the test's namespaces, e.g.
# bc_link lab 10.251.0.1/24 ws 10.251.0.2/24.
bc_link() {
    local a=$1 addr_a=$2 b=$3 addr_b=$4
    bc_links=$((${bc_links:-0} + 1))
    local end_a=bc$$-${bc_links}a end_b=bc$$-${bc_links}b # at most 15 characters
    ip link add "$end_a" type veth peer name "$end_b" || bc_fail "ip link add"
    ip link set "$end_a" netns "$a" && ip link set "$end_b" netns "$b" || bc_fail "moving the veth pair"
    ip -n "$a" addr add "$addr_a" dev "$end_a" && ip -n "$a" link set "$end_a" up
    ip -n "$b" addr add "$addr_b" dev "$end_b" && ip -n "$b" link set "$end_b" up
}

# bc_background NETNS LOG COMMAND...: runs a program of this machine in one of the test's network
# namespaces (a stand-in workstation, say), output to LOG; ended at exit. Its pid is in bc_helper_pid.
bc_background() {
    local netns=$1 log=$2
    shift 2
    ip netns exec "$netns" "$@" >"$log" 2>&1 &
    bc_helper_pid=$!
    bc_helpers+=("$bc_helper_pid")
}

# bc_readme_block README TEXT: the fenced code block of README that holds a line with TEXT, without its
# fences, so a test runs a recipe exactly as the README shows it.
bc_readme_block() {
    awk -v text="$2" '
        /^```/ { if (inside) { if (found) { printf "%s", block; exit } inside = 0 } else { inside = 1; block = "" } next }
        inside { block = block $0 "\n"; if (index($0, text)) found = 1 }
    ' "$1"
}

# The PID (outside) of the init of the running container NAME: the process in a PID namespace of its
# own below NAME's systemd-nspawn.
bc_leader() {
    local pid=${bc_pid[$1]:-} child
    [ -n "$pid" ] || return 1
    for child in $(ps -o pid= --ppid "$pid") $(ps -o pid= --ppid "$(ps -o pid= --ppid "$pid" | head -1)" 2>/dev/null); do
        if [ "$(readlink "/proc/$child/ns/pid")" != "$(readlink /proc/self/ns/pid)" ] &&
            grep -q '^NSpid:.*[[:space:]]1$' "/proc/$child/status" 2>/dev/null; then
            echo "$child"
            return 0
        fi
    done
    return 1
}

# bc_exec NAME COMMAND...: runs a command inside the booted container NAME (all its namespaces, its
# root, a clean environment).
bc_exec() {
    local name=$1 leader
    shift
    leader=$(bc_leader "$name") || return 1
    nsenter -t "$leader" -a -- env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 "$@"
}

# systemd inside NAME has finished starting up (running, or degraded where a unit failed).
bc_booted() {
    local state
    state=$(bc_exec "$1" systemctl is-system-running 2>/dev/null) || true
    [ "$state" = running ] || [ "$state" = degraded ]
}

# bc_boot NAME NETNS: boots container NAME with systemd-nspawn -b in the test's network namespace
# NETNS and returns once its systemd has finished starting up. Its console goes to WORK/NAME-console.log.
bc_boot() {
    local name=$1 netns=$2
    bc_netns[$name]=$netns
    systemd-nspawn --quiet --boot --register=no --keep-unit --machine="$name" --directory="$(bc_dir "$name")" \
        --network-namespace-path="/run/netns/$netns" --console=passive \
        >>"$bc_work/$name-console.log" 2>&1 &
    bc_pid[$name]=$!
    bc_wait 120 "$name to boot (see $bc_work/$name-console.log)" bc_booted "$name"
}

# bc_shutdown NAME reboot|poweroff: the container goes down as a computer does (every unit stopped). A
# reboot returns once it has booted again, a poweroff once systemd-nspawn has ended.
bc_shutdown() {
    local name=$1 how=$2 pid=${bc_pid[$1]} rc=0
    bc_exec "$name" systemctl "$how" --no-block || bc_fail "systemctl $how in $name"
    local deadline=$((SECONDS + 120))
    while kill -0 "$pid" 2>/dev/null; do
        [ "$SECONDS" -lt "$deadline" ] || bc_fail "$name did not go down within 120 s"
        sleep 0.5
    done
    wait "$pid" || rc=$?
    unset "bc_pid[$name]"
    # systemd-nspawn ends with 133 when the container asks to be rebooted.
    if [ "$how" = reboot ]; then
        [ "$rc" = 133 ] || bc_fail "$name: systemd-nspawn ended with $rc on reboot, not 133"
        bc_boot "$name" "${bc_netns[$name]}"
    else
        [ "$rc" = 0 ] || bc_fail "$name: systemd-nspawn ended with $rc on poweroff"
    fi
}

bc_cleanup() {
    local name pid ns leader
    for pid in "${bc_helpers[@]}"; do kill -TERM "$pid" 2>/dev/null || true; done
    # A container still running is thrown away: its init killed ends every process in it at once.
    for name in "${!bc_pid[@]}"; do
        if leader=$(bc_leader "$name"); then kill -KILL "$leader" 2>/dev/null || true; fi
        kill -TERM "${bc_pid[$name]}" 2>/dev/null || true
    done
    for name in "${!bc_pid[@]}"; do
        pid=${bc_pid[$name]}
        for _ in $(seq 60); do kill -0 "$pid" 2>/dev/null || break; sleep 0.5; done
        kill -KILL "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    for ns in "${bc_namespaces[@]}"; do ip netns delete "$ns" 2>/dev/null || true; done
    [ -z "$bc_work" ] || rm -rf --one-file-system "$bc_work"
}
