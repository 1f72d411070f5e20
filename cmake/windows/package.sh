#!/bin/sh
# Makes the Windows packages of one program folder (cmake/PlinketWindowsPackaging.cmake runs it):
#   package.sh BUILD OUT WXS_DIR VERSION COMPONENT [PKCS12 PASSWORD_FILE]
# stages the component's installation (programs, libraries, plugins; stripped) in OUT/plinket-COMPONENT/,
# signs our programs and the MSI with Authenticode when a PKCS#12 certificate is given, and writes
# OUT/plinket-COMPONENT.zip (the folder) and OUT/plinket-COMPONENT.msi (WXS_DIR/plinket-COMPONENT.wxs
# with the folder's files listed by wixl-heat).
set -eu
build=$1 out=$2 wxs=$3 version=$4 component=$5 pkcs12=${6:-} password_file=${7:-}
name=plinket-$component
stage=$out/$name

sign() { # FILE: signed in place (SHA-256), when a certificate was given
    [ -n "$pkcs12" ] || return 0
    set -- "$1" -pkcs12 "$pkcs12"
    [ -z "$password_file" ] || set -- "$@" -readpass "$password_file"
    osslsigncode sign "$@" -h sha256 -n "Plinket" -in "$1" -out "$1.signed" >/dev/null
    mv "$1.signed" "$1"
}

rm -rf "$stage" "$out/$name.zip" "$out/$name.msi" "$out/$name-files.wxs"
mkdir -p "$out"
cmake --install "$build" --component "$component" --prefix "$stage" --strip >/dev/null
for program in "$stage"/plinket_*.exe; do sign "$program"; done

(cd "$out" && cmake -E tar cf "$name.zip" --format=zip "$name")

# Every file of the folder becomes a component of its own under INSTALLDIR.
(cd "$stage" && find . -type f | sed 's|^\./||' | LC_ALL=C sort) |
    wixl-heat -p '' --component-group ProgramFiles --var var.SourceDir --directory-ref INSTALLDIR --win64 \
        >"$out/$name-files.wxs"
# wixl takes file sources relative to the folder it runs in.
(cd "$out" && wixl -a x64 -D SourceDir="$name" -D Version="$version" -D Win64=yes -o "$name.msi" \
    "$wxs/$name.wxs" "$name-files.wxs")
# wixl writes Type="expandable" values as plain strings; Windows Installer writes REG_EXPAND_SZ for a
# value that starts with "#%", which the event log's message file values are.
msiinfo export "$out/$name.msi" Registry | awk -F '\t' 'NR > 3 && $4 == "EventMessageFile" && $5 !~ /^#/ { print $1 "\t" $5 }' |
    while IFS="$(printf '\t')" read -r id value; do
        msibuild "$out/$name.msi" -q "UPDATE \`Registry\` SET \`Value\` = '#%$value' WHERE \`Registry\` = '$id'"
    done
sign "$out/$name.msi"
