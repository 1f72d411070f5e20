#!/usr/bin/env bash
# Usage: install_test.sh SOURCE_DIR BUILD_DIR
# Builds the packages (scripts/package: lintian errors and warnings fail), installs them with apt into
# a fresh Debian 12 root (tests/support/booted_container.sh, not booted), checks what an administrator
# relies on, purges them and checks that nothing of them is left, the trusted keys included, without a
# warning from dpkg. Exit 77 (skipped) where it cannot run. The base root and downloaded packages are
# kept in BUILD_DIR/container-test between runs, shared with the other container tests.
set -euo pipefail
source_dir=$(cd "$1" && pwd)
build=$(cd "$2" && pwd)
source "$source_dir/tests/support/booted_container.sh"
step() { bc_step "$@"; }
fail() { bc_fail "$@"; }

command -v desktop-file-validate >/dev/null || bc_skip "desktop-file-validate is missing (scripts/install-deps installs it)"
bc_init "$build/container-test"

step "building the packages"
"$source_dir/scripts/package" --no-build "$build"
debs=()
for name in plinket-common plinket-send plinket-client plinket-server; do
    debs+=("$(ls "$build"/packages/"${name}"_*.deb)")
done

step "apt-get install ./plinket-* (dependencies from $bc_mirror_url)"
bc_root pkg "${debs[@]}"
grep -E '^(Setting up|Processing triggers for) (plinket|systemd)' "$bc_work/pkg-install.log" || true
root=$(bc_dir pkg)
in_root() { bc_chroot pkg "$@"; }

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
grep -qF 'Version @PLINKET_STRING_ONE@ is launched.' <<<"$catalog" || fail "event 100 not in the catalog database"
echo "catalog database: $(grep -F 'is launched' <<<"$catalog")"
for id in 4d2a9c7e1b5f4a3c8e6d0f1a2b3c4d65 9e61c5d03a8f4b27b4d1e07c5f2a3b65; do
    [ -n "$(in_root journalctl --dump-catalog "$id")" ] || fail "event 101 of the console or plinket_send not in the catalog"
done

step "apt-get purge plinket-* (with a console's public key in /etc/plinket/trusted-keys)"
packages=(plinket-common plinket-send plinket-client plinket-server)
owned=$(in_root dpkg-query -L "${packages[@]}")
echo "a console's key" >"$root/etc/plinket/trusted-keys/console.pub"
in_root apt-get purge -y -q "${packages[@]}" >"$bc_work/purge.log" 2>&1 || {
    tail -30 "$bc_work/purge.log"
    fail "apt-get purge"
}
! grep -i 'warning' "$bc_work/purge.log" || fail "dpkg warned while purging"
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
