#!/usr/bin/env bash
# `cmake --install` into a DESTDIR lays out exactly files.txt, and each file passes its own checker.
# Usage: test_install.sh BUILD_DIR THIS_DIR
set -euo pipefail
build=$1 here=$2
for tool in desktop-file-validate appstreamcli groff file; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

DESTDIR="$tmp/root" cmake --install "$build" --prefix /usr >"$tmp/install.log" || { cat "$tmp/install.log"; fail "cmake --install"; }
root=$tmp/root/usr
(cd "$root" && find . -type f -o -type l | sed 's|^\./||' | LC_ALL=C sort) >"$tmp/files"
LC_ALL=C sort "$here/files.txt" | diff -u - "$tmp/files" || fail "installed files differ from files.txt"

for exe in bin/corvane bin/corvane-scan; do
    [ -x "$root/$exe" ] || fail "$exe is not executable"
    [ ! -u "$root/$exe" ] && [ ! -g "$root/$exe" ] || fail "$exe is setuid or setgid"
done
for size in 48 128 256; do
    file "$root/share/icons/hicolor/${size}x$size/apps/com.example.Corvane.png" | grep -q "PNG image data, $size x $size," \
        || fail "icon ${size}x$size"
done

out=$(desktop-file-validate "$root/share/applications/com.example.Corvane.desktop" 2>&1) || true
[ -z "$out" ] || fail "desktop-file-validate: $out"
grep -qx 'Exec=corvane' "$root/share/applications/com.example.Corvane.desktop" || fail "Exec line"
grep -qx 'Icon=com.example.Corvane' "$root/share/applications/com.example.Corvane.desktop" || fail "Icon line"
appstreamcli validate --no-net "$root/share/metainfo/com.example.Corvane.metainfo.xml" || fail "appstreamcli validate"
for page in corvane corvane-scan; do
    out=$(groff -man -ww -z "$root/share/man/man1/$page.1" 2>&1)
    [ -z "$out" ] || fail "groff $page.1: $out"
done
# The watch units as systemd reads them, with ExecStart pointed at the program just installed.
if command -v systemd-analyze >/dev/null; then
    mkdir "$tmp/units"
    sed "s|^ExecStart=/usr/bin/|ExecStart=$root/bin/|" "$root/lib/systemd/user/corvane-watch.service" >"$tmp/units/corvane-watch.service"
    cp "$root/lib/systemd/user/corvane-watch.timer" "$tmp/units/"
    grep -q "^ExecStart=$root/bin/corvane-scan watch --once" "$tmp/units/corvane-watch.service" || fail "watch service ExecStart"
    out=$(systemd-analyze verify --man=no "$tmp/units/corvane-watch.service" "$tmp/units/corvane-watch.timer" 2>&1) \
        || fail "systemd-analyze verify: $out"
fi
# Every option that corvane-scan's help lists is in its man page and in the completion.
options=$("$root/bin/corvane-scan" --help | grep -o -- '--[a-z0-9]*' | sort -u)
[ -n "$options" ] || fail "no options in corvane-scan --help"
for opt in $options; do
    grep -qF -- "$(printf '%s' "$opt" | sed 's/-/\\-/g')" "$root/share/man/man1/corvane-scan.1" || fail "man page lacks $opt"
    grep -q -- "$opt" "$root/share/bash-completion/completions/corvane-scan" || fail "completion lacks $opt"
done

# The completion offers the commands, the command's own options and the format values.
complete_words() {
    # shellcheck disable=SC1091
    bash -c 'source "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); COMPREPLY=(); _corvane_scan; echo "${COMPREPLY[*]}"' \
        _ "$root/share/bash-completion/completions/corvane-scan" "$@"
}
check_completion() {
    local want=$1; shift
    local got; got=$(complete_words "$@")
    [ "$got" = "$want" ] || fail "completion of '$*': '$got', want '$want'"
}
check_completion 'nbstat ping discover watch devices' corvane-scan ''
check_completion 'ping' corvane-scan p
check_completion 'txt csv json' corvane-scan nbstat --format ''
check_completion '--names' corvane-scan nbstat --na
check_completion '--timeout' corvane-scan ping --ti
check_completion '' corvane-scan ping --na
check_completion '--every' corvane-scan watch --ev
check_completion '--gone-after' corvane-scan watch --go
check_completion '' corvane-scan discover --ev
check_completion '--db' corvane-scan devices --d
check_completion '--db' corvane-scan nbstat --d
check_completion '--retries' corvane-scan nbstat --ret
check_completion '--rate' corvane-scan ping --ra
echo "PASS: $(wc -l <"$tmp/files") files installed and valid"
