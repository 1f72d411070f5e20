#!/usr/bin/env bash
# Usage: install_test.sh SOURCE_DIR BUILD_DIR
# Builds both packages (scripts/package: lintian errors fail), installs them with apt into a fresh
# Debian 12 minbase root made by debootstrap from this machine's mirror, checks what an administrator
# relies on, removes them and checks that nothing of them is left. Exit 77 (skipped) where it cannot
# run. The base root and downloaded packages are kept in BUILD_DIR/package-test between runs.
set -euo pipefail
source_dir=$(cd "$1" && pwd)
build=$(cd "$2" && pwd)
suite=bookworm
skip() {
    echo "SKIPPED: $*"
    exit 77
}
step() { echo "== $(date +%T) $*"; }
fail() {
    echo "FAILED: $*"
    exit 1
}

[ "$(id -u)" = 0 ] || skip "needs root (debootstrap, chroot, mounts)"
command -v debootstrap >/dev/null || skip "debootstrap is missing (scripts/install-deps installs it)"
command -v desktop-file-validate >/dev/null || skip "desktop-file-validate is missing (scripts/install-deps installs it)"

# The mirror this machine's apt uses for Debian itself.
mirror=$(sed -n 's/^URIs: *\([^ ]*\).*/\1/p; s/^deb \+\(\[[^]]*\] \+\)\?\([^ ]*\) \+'"$suite"' .*/\2/p' \
    /etc/apt/sources.list /etc/apt/sources.list.d/*.sources /etc/apt/sources.list.d/*.list 2>/dev/null |
    grep -v -e security -e '^$' | head -1 || true)
mirror=${mirror:-http://deb.debian.org/debian}
wget -q -T 15 -t 2 --spider "$mirror/dists/$suite/Release" || skip "cannot reach the mirror $mirror"

step "building the packages"
"$source_dir/scripts/package" --no-build "$build"
debs=("$build"/packages/plinket-client_*.deb "$build"/packages/plinket-server_*.deb)

cache=$build/package-test
base=$cache/$suite-minbase.tar
mkdir -p "$cache/archives/partial"
root=$(mktemp -d "$cache/root.XXXXXX")
chmod 755 "$root" # apt downloads as the unprivileged _apt user
trap 'rm -rf "$root"' EXIT

if [ ! -f "$base" ]; then
    # systemd is there on every desktop; here it brings journalctl and the catalog trigger.
    step "debootstrap $suite (minbase + systemd) from $mirror"
    debootstrap --variant=minbase --include=systemd --cache-dir="$cache/archives" "$suite" "$root" "$mirror" \
        >"$cache/debootstrap.log" 2>&1 || {
        tail -20 "$cache/debootstrap.log"
        fail "debootstrap"
    }
    cp /etc/resolv.conf "$root/etc/resolv.conf"
    chroot "$root" apt-get update -qq || fail "apt-get update in the new root"
    rm -f "$root"/var/cache/apt/archives/*.deb
    tar -C "$root" -cf "$base.part" . && mv "$base.part" "$base"
else
    step "unpacking the cached $suite root ($base)"
    tar -C "$root" -xf "$base"
fi
cp /etc/resolv.conf "$root/etc/resolv.conf"
mkdir -p "$root/tmp/debs"
cp "${debs[@]}" "$root/tmp/debs/"
# No service starts inside the root.
printf '#!/bin/sh\nexit 101\n' >"$root/usr/sbin/policy-rc.d"
chmod 755 "$root/usr/sbin/policy-rc.d"

# Everything in the root runs in a private mount and PID namespace: /proc and the package cache
# mounted there vanish with it.
in_root() {
    unshare --mount --pid --fork --propagation private -- sh -c '
        root=$1 cache=$2; shift 2
        mount -t proc proc "$root/proc"
        mount --bind "$cache" "$root/var/cache/apt/archives"
        exec chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 DEBIAN_FRONTEND=noninteractive "$@"
    ' sh "$root" "$cache/archives" "$@"
}

step "apt-get install ./plinket-client ./plinket-server (dependencies from $mirror)"
in_root apt-get install -y -q --no-install-recommends "/tmp/debs/${debs[0]##*/}" "/tmp/debs/${debs[1]##*/}" \
    >"$cache/install.log" 2>&1 || {
    tail -30 "$cache/install.log"
    fail "apt-get install"
}
grep -E '^(Setting up|Processing triggers for) (plinket|systemd)' "$cache/install.log" || true

step "checks on the installed system"
version=$(sed -n 's/^project(Plinket VERSION \([0-9.]*\).*/\1/p' "$source_dir/CMakeLists.txt")
for program in plinket_client plinket_server plinket_send; do
    out=$(in_root "$program" --version) || fail "$program --version"
    [ "$out" = "$program $version" ] || fail "$program --version printed '$out'"
    echo "$out"
done
for file in /usr/bin/plinket_client /usr/bin/plinket_server /usr/bin/plinket_send /usr/libexec/plinket/plinket_crash_box; do
    missing=$(in_root ldd "$file" | grep 'not found' || true)
    [ -z "$missing" ] || fail "$file lacks libraries: $missing"
done
echo "all libraries of the four programs found"
[ -f "$root/etc/xdg/autostart/plinket-client.desktop" ] || fail "no autostart entry in /etc/xdg/autostart"
echo "autostart entry: /etc/xdg/autostart/plinket-client.desktop"
desktop-file-validate "$root/etc/xdg/autostart/plinket-client.desktop" "$root/usr/share/applications/plinket-server.desktop" ||
    fail "desktop-file-validate"
echo "desktop-file-validate: both entries valid"
for icon in plinket-client plinket-server; do
    for size in 16 48 256; do
        [ -f "$root/usr/share/icons/hicolor/${size}x$size/apps/$icon.png" ] || fail "no $size px icon $icon"
    done
done
echo "icons present"
# systemd's trigger has run journalctl --update-catalog: the database holds event 100 in both languages.
catalog=$(in_root journalctl --dump-catalog b7e3f4a1c9d24e5f8a6b0c1d2e3f4a64)
grep -qF 'Version @PLINKET_SHOWN_ONE@ is launched.' <<<"$catalog" || fail "event 100 not in the catalog database"
echo "catalog database: $(grep -F 'is launched' <<<"$catalog")"
for id in 4d2a9c7e1b5f4a3c8e6d0f1a2b3c4d65 9e61c5d03a8f4b27b4d1e07c5f2a3b65; do
    [ -n "$(in_root journalctl --dump-catalog "$id")" ] || fail "event 101 of the console or plinket_send not in the catalog"
done

step "apt-get purge plinket-client plinket-server"
owned=$(in_root dpkg-query -L plinket-client plinket-server)
in_root apt-get purge -y -q plinket-client plinket-server >"$cache/purge.log" 2>&1 || {
    tail -30 "$cache/purge.log"
    fail "apt-get purge"
}
left=()
while IFS= read -r path; do
    [ -n "$path" ] && [ -e "$root$path" ] || continue
    # Shared folders (/usr/bin, the icon theme's) stay when another package owns them.
    if [ -d "$root$path" ] && in_root dpkg-query -S "$path" >/dev/null 2>&1; then
        continue
    fi
    left+=("$path")
done <<<"$owned"
[ ${#left[@]} -eq 0 ] || fail "left behind after purge: ${left[*]}"
strays=$(cd "$root" && find . -xdev -iname '*plinket*' -not -path './tmp/debs/*' -not -path './var/log/*' \
    -not -path './proc/*' | head)
[ -z "$strays" ] || fail "left behind after purge: $strays"
[ -z "$(in_root journalctl --dump-catalog b7e3f4a1c9d24e5f8a6b0c1d2e3f4a64 2>/dev/null)" ] ||
    fail "event 100 still in the catalog database after purge"
echo "nothing of the packages left: files, folders, catalog entries"
step "done"
