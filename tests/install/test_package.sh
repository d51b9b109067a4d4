#!/usr/bin/env bash
# The Debian package of this build tree: its file list, its control fields, lintian without errors,
# and the programs run from the unpacked tree.
# Usage: test_package.sh BUILD_DIR THIS_DIR CLOSE_DRIVER_LIB
set -euo pipefail
build=$1 here=$2 driver=$3
for tool in cpack dpkg-deb dpkg-shlibdeps lintian; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
[ "$(id -u)" -eq 0 ] || { echo "SKIP: the window is started in a network namespace of its own, which needs root"; exit 77; }
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

cpack --config "$build/CPackConfig.cmake" -B "$tmp/out" >"$tmp/cpack.log" 2>&1 || { cat "$tmp/cpack.log"; fail cpack; }
deb=$tmp/out/corvane_1.1.0.0_$(dpkg --print-architecture).deb
[ -f "$deb" ] || { ls "$tmp/out"; fail "no $deb"; }

field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = corvane ] || fail "Package: $(field Package)"
[ "$(field Version)" = 1.1.0.0 ] || fail "Version: $(field Version)"
[ "$(field Section)" = net ] || fail "Section: $(field Section)"
[ "$(field Recommends)" = "xdg-utils, ieee-data, libqt6sql6-psql" ] || fail "Recommends: $(field Recommends)"
[[ "$(field Depends)" == *libqt6sql6-sqlite* ]] || fail "Depends lacks the SQLite driver: $(field Depends)"
[[ "$(field Maintainer)" == *@example.com\> ]] || fail "Maintainer: $(field Maintainer)"
# Computed from the programs' libraries, so Qt's widgets and network libraries are named.
for lib in libqt6widgets6 libqt6network6 libc6; do
    [[ "$(field Depends)" == *"$lib "* ]] || fail "Depends lacks $lib: $(field Depends)"
done

# The installed layout, with the man pages compressed, plus Debian's copyright and changelog.
{
    sed -e 's|^share/man/man1/\(.*\)$|share/man/man1/\1.gz|' "$here/files.txt"
    printf '%s\n' share/doc/corvane/changelog.gz share/doc/corvane/copyright
} | sed 's|^|./usr/|' | LC_ALL=C sort >"$tmp/want"
dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | LC_ALL=C sort >"$tmp/got"
diff -u "$tmp/want" "$tmp/got" || fail "package files differ"
# No setuid or setgid file: ICMP rights stay with the system.
! dpkg-deb -c "$deb" | awk '{print $1}' | grep -q '[sS]' || fail "a setuid or setgid file"

lintian --fail-on error "$deb" >"$tmp/lintian.log" 2>&1 \
    || { cat "$tmp/lintian.log"; fail "lintian reports errors"; }
cat "$tmp/lintian.log"

dpkg-deb -x "$deb" "$tmp/root"
command -v getcap >/dev/null && [ -n "$(getcap -r "$tmp/root" 2>/dev/null)" ] && fail "file capabilities set"
version=$("$tmp/root/usr/bin/corvane-scan" --version)
[ "$version" = "corvane-scan 1.1.0.0" ] || fail "corvane-scan --version: $version"
# The window: a loopback range typed in, Scan, closed after a moment; in a namespace of its own so
# nothing leaves this test.
out=$(unshare -n env QT_QPA_PLATFORM=offscreen LD_PRELOAD="$driver" \
    CORVANE_CLOSE_DRIVER="0;127.0.0.1;127.0.0.3;0;300;0" timeout 30 "$tmp/root/usr/bin/corvane" 2>&1) \
    || fail "corvane exited with $?: $out"
[[ "$out" == *"driver: closing"* ]] || fail "the window did not come up: $out"
echo "PASS: $deb"
