#!/usr/bin/env bash
# Usage: repository_test.sh SOURCE_DIR BUILD_DIR
# scripts/publish-repo makes a signed apt repository of BUILD_DIR/packages with a throwaway GnuPG key;
# a fresh Debian 12 root is set up with the README's lines for a workstation (the repository a file:
# URI here), and apt, checking signatures, installs plinket-send from it. The same root refuses the
# repository when its keyring holds another key, and when the signed index has been altered.
# Exit 77 (skipped) where it cannot run.
set -euo pipefail
source_dir=$(cd "$1" && pwd)
build=$(cd "$2" && pwd)
source "$source_dir/tests/support/booted_container.sh"
command -v reprepro >/dev/null || bc_skip "reprepro is missing (scripts/install-deps installs it)"
command -v gpg >/dev/null || bc_skip "gpg is missing (scripts/install-deps installs gnupg)"
ls "$build"/packages/plinket-send_*.deb >/dev/null 2>&1 || bc_skip "no packages in $build/packages (scripts/package)"
bc_init "$build/container-test"

bc_step "a throwaway signing key and the repository"
export GNUPGHOME=$bc_work/gnupg
mkdir -m 700 "$GNUPGHOME"
gpg --batch --quiet --passphrase '' --quick-gen-key "Plinket test repository <repo@plinket.invalid>" ed25519 sign 1d
repo=$bc_work/repo
"$source_dir/scripts/publish-repo" --key repo@plinket.invalid --packages "$build/packages" "$repo"
# Published again (as after the next build): the same repository, nothing refused.
"$source_dir/scripts/publish-repo" --key repo@plinket.invalid --packages "$build/packages" "$repo" >/dev/null

bc_step "a workstation's apt, with the README's lines"
bc_root ws
root=$(bc_dir ws)
mkdir -p "$root/srv/repo" "$root/root/keys"
cp -a "$repo/dists" "$repo/pool" "$root/srv/repo/"
cp "$repo/plinket-archive-keyring.gpg" "$root/root/keys/"
lines=$(bc_readme_block "$source_dir/README.md" "signed-by=/etc/apt/keyrings/plinket.gpg")
[ -n "$lines" ] || bc_fail "no workstation lines in the README"
# The README's server is the copy in the root, and plinket-send (fewer dependencies) stands for
# plinket-client; the keyring is in the folder the lines run in, as the README has it.
lines=$(sed -e 's|http://admin-pc.office.example/plinket|file:/srv/repo|' -e 's|install -y plinket-client|install -y plinket-send|' <<<"$lines")
cp /etc/resolv.conf "$root/etc/resolv.conf"
bc_chroot ws sh -ec "cd /root/keys; $lines" >"$bc_work/apt.log" 2>&1 || {
    tail -20 "$bc_work/apt.log"
    bc_fail "the README's lines for a workstation"
}
grep -Ei 'unsigned|NO_PUBKEY|not signed|insecure' "$bc_work/apt.log" && bc_fail "apt found the repository unsigned"
out=$(bc_chroot ws plinket_send --version) || bc_fail "plinket_send from the repository does not run"
echo "installed from the repository: $out, with $(grep -c '^Setting up' "$bc_work/apt.log") packages" \
    "($(grep -o '[0-9.,]* [kM]B of additional disk space' "$bc_work/apt.log"))"

# apt-get update, as on a workstation that has not seen this index yet, fails or warns about the repository.
update_refused() {
    rm -f "$root"/var/lib/apt/lists/_srv_repo_*
    ! bc_chroot ws apt-get update -q >"$bc_work/refused.log" 2>&1 || grep -q '^[WE]: .*srv/repo' "$bc_work/refused.log"
}
bc_step "apt refuses a keyring with another key, and an altered index"
cp "$root/etc/apt/keyrings/plinket.gpg" "$bc_work/good.gpg"
gpg --batch --quiet --passphrase '' --quick-gen-key "Someone else <else@plinket.invalid>" ed25519 sign 1d
gpg --batch --export else@plinket.invalid >"$root/etc/apt/keyrings/plinket.gpg"
update_refused || bc_fail "apt accepted the repository with another key in its keyring"
cp "$bc_work/good.gpg" "$root/etc/apt/keyrings/plinket.gpg"
sed -i 's/^Label: Plinket$/Label: Plinkef/' "$root/srv/repo/dists/bookworm/InRelease"
rm -f "$root/srv/repo/dists/bookworm/Release.gpg"
update_refused || bc_fail "apt accepted an altered InRelease"
echo "refused: $(grep -m1 -E '^(W|E): ' "$bc_work/refused.log")"
bc_step "done"
