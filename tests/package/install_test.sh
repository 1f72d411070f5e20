#!/usr/bin/env bash
# Usage: install_test.sh SOURCE_DIR BUILD_DIR
# Builds the packages (scripts/package: lintian errors and warnings fail) and publishes them as a
# signed apt repository (scripts/publish-repo, a throwaway GnuPG key). A fresh Debian 12 root
# (tests/support/booted_container.sh, not booted) gets them as the README shows for a workstation: the
# keyring, the source line, apt with signature checks (the repository a file: URI here). Checks what an
# administrator relies on; that apt refuses the repository with another key or an altered index; then
# purges the packages and checks that nothing of them is left, the trusted keys included, without a
# warning from dpkg. Exit 77 (skipped) where it cannot run. The base root and downloaded packages are
# kept in BUILD_DIR/container-test between runs, shared with the other container tests.
set -euo pipefail
source_dir=$(cd "$1" && pwd)
build=$(cd "$2" && pwd)
source "$source_dir/tests/support/booted_container.sh"
step() { bc_step "$@"; }
fail() { bc_fail "$@"; }

command -v desktop-file-validate >/dev/null || bc_skip "desktop-file-validate is missing (scripts/install-deps installs it)"
command -v reprepro >/dev/null && command -v gpg >/dev/null || bc_skip "reprepro or gpg is missing (scripts/install-deps)"
bc_init "$build/container-test"

step "building the packages"
"$source_dir/scripts/package" --no-build "$build"

step "a signed apt repository of them"
export GNUPGHOME=$bc_work/gnupg
mkdir -m 700 "$GNUPGHOME"
gpg --batch --quiet --passphrase '' --quick-gen-key "Plinket test repository <repo@plinket.invalid>" ed25519 sign 1d
repo=$bc_work/repo
"$source_dir/scripts/publish-repo" --key repo@plinket.invalid --packages "$build/packages" "$repo"
# Published again, as after the next build: the same repository, nothing refused.
"$source_dir/scripts/publish-repo" --key repo@plinket.invalid --packages "$build/packages" "$repo" >/dev/null

step "the README's lines for a workstation: plinket-client and plinket-server from it (dependencies from $bc_mirror_url)"
bc_root pkg
root=$(bc_dir pkg)
in_root() { bc_chroot pkg "$@"; }
mkdir -p "$root/srv/repo" "$root/root/keys"
cp -a "$repo/dists" "$repo/pool" "$root/srv/repo/"
cp "$repo/plinket-archive-keyring.gpg" "$root/root/keys/"
lines=$(bc_readme_block "$source_dir/README.md" "signed-by=/etc/apt/keyrings/plinket.gpg")
[ -n "$lines" ] || fail "no workstation lines in the README"
# The README's server is the copy in the root; the keyring is in the folder the lines run in. Both
# programs, without the recommended desktop libraries a desktop has anyway (GTK's Qt theme and more).
lines=$(sed -e 's|http://admin-pc.office.example/plinket|file:/srv/repo|' \
    -e 's|install -y plinket-client|install -y --no-install-recommends plinket-client plinket-server|' <<<"$lines")
cp /etc/resolv.conf "$root/etc/resolv.conf"
in_root sh -ec "cd /root/keys; $lines" >"$bc_work/apt.log" 2>&1 || {
    tail -30 "$bc_work/apt.log"
    fail "the README's lines for a workstation"
}
! grep -Ei 'unsigned|NO_PUBKEY|not signed|insecure' "$bc_work/apt.log" || fail "apt found the repository unsigned"
grep -E '^(Setting up|Processing triggers for) (plinket|systemd)' "$bc_work/apt.log" || true

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

# apt-get update, as on a workstation that has not seen this index yet, fails or warns about the repository.
update_refused() {
    rm -f "$root"/var/lib/apt/lists/_srv_repo_*
    ! in_root apt-get update -q -o Dir::Etc::SourceList=sources.list.d/plinket.list -o Dir::Etc::SourceParts=- \
        -o APT::Get::List-Cleanup=0 >"$bc_work/refused.log" 2>&1 || grep -q '^[WE]: .*srv/repo' "$bc_work/refused.log"
}
step "apt refuses the repository with another key in the keyring, and with an altered index"
cp "$root/etc/apt/keyrings/plinket.gpg" "$bc_work/good.gpg"
gpg --batch --quiet --passphrase '' --quick-gen-key "Someone else <else@plinket.invalid>" ed25519 sign 1d
gpg --batch --export else@plinket.invalid >"$root/etc/apt/keyrings/plinket.gpg"
update_refused || fail "apt accepted the repository with another key in its keyring"
cp "$bc_work/good.gpg" "$root/etc/apt/keyrings/plinket.gpg"
sed -i 's/^Label: Plinket$/Label: Plinkef/' "$root/srv/repo/dists/bookworm/InRelease"
rm -f "$root/srv/repo/dists/bookworm/Release.gpg"
update_refused || fail "apt accepted an altered InRelease"
echo "refused: $(grep -m1 -E '^(W|E): ' "$bc_work/refused.log")"

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
# The repository, its keyring and source line are the administrator's, not the packages'.
strays=$(cd "$root" && find . -xdev -iname '*plinket*' -not -path './var/log/*' -not -path './proc/*' \
    -not -path './srv/repo/*' -not -path './root/keys/*' -not -path './etc/apt/*' | head)
[ -z "$strays" ] || fail "left behind after purge: $strays"
[ -z "$(in_root journalctl --dump-catalog b7e3f4a1c9d24e5f8a6b0c1d2e3f4a64 2>/dev/null)" ] ||
    fail "event 100 still in the catalog database after purge"
echo "nothing of the packages left: files, folders, catalog entries"
step "done"
