#!/usr/bin/env bash
# Installs the Debian packages Corvane needs to build, test and run, when any is missing.
# Usage: scripts/setup-deps.sh [build|test|bench|run|package]   (default: test; bench adds the benchmarks' peers)
set -euo pipefail

what=${1:-test}
# librsvg2-bin draws the icon's PNGs from its SVG.
build_pkgs=(g++ make cmake pkg-config qt6-base-dev qt6-base-dev-tools libgl-dev librsvg2-bin)
# Test peers: Samba's nmbd and nmblookup for the private LAN, iproute2 for the namespaces,
# iputils-ping as the reference echo, nftables for lossy links and walled hosts, libcap2-bin (setcap) for a
# program given cap_net_raw+p, avahi-daemon and dnsmasq-base as the name peers (mDNS, reverse DNS),
# clang for the fuzz target, locales for a Latin-1 locale;
# the checkers of the installed files and of the package, and what CPack's DEB generator runs;
# postgresql and Qt's drivers: the inventory tests start a server of their own; dbus-daemon for the
# window's notifications, caught on a session bus of the test's own.
package_pkgs=(dpkg-dev fakeroot file)
test_pkgs=(samba samba-common-bin iproute2 iputils-ping nftables libcap2-bin avahi-daemon dnsmasq-base util-linux procps
           clang libclang-rt-14-dev locales
           desktop-file-utils appstream groff-base lintian postgresql libqt6sql6-sqlite libqt6sql6-psql dbus-daemon
           "${package_pkgs[@]}")
# ieee-data: the IEEE registry the vendor names come from (the tests write their own); the inventory's
# SQLite driver, and its PostgreSQL driver for a shared one.
run_pkgs=(xdg-utils ieee-data libqt6sql6-sqlite libqt6sql6-psql)
# The benchmarks' reference sweeps (ICMP; ARP).
bench_pkgs=(fping arp-scan)

pkgs=("${build_pkgs[@]}")
case "$what" in
    build) ;;
    test) pkgs+=("${test_pkgs[@]}") ;;
    bench) pkgs+=("${test_pkgs[@]}" "${bench_pkgs[@]}") ;;
    run) pkgs+=("${run_pkgs[@]}") ;;
    package) pkgs+=("${package_pkgs[@]}") ;;
    *) echo "usage: $0 [build|test|bench|run|package]" >&2; exit 2 ;;
esac

missing=()
for p in "${pkgs[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing missing Debian packages: ${missing[*]}"
sudo=()
if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null || { echo "Need root (or sudo) to install: ${missing[*]}" >&2; exit 1; }
    sudo=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
# nmbd and smbd start as services when samba is installed; the tests run their own nmbd.
if [[ " ${missing[*]} " == *" samba "* ]] && command -v systemctl >/dev/null; then
    "${sudo[@]}" systemctl disable --now nmbd smbd samba-ad-dc >/dev/null 2>&1 || true
fi
# avahi-daemon starts as a service too and would talk mDNS on the real network; the tests run
# their own, confined to their namespaces.
if [[ " ${missing[*]} " == *" avahi-daemon "* ]]; then
    if command -v systemctl >/dev/null; then
        "${sudo[@]}" systemctl disable --now avahi-daemon.socket avahi-daemon.service >/dev/null 2>&1 || true
    fi
    "${sudo[@]}" avahi-daemon --kill >/dev/null 2>&1 || true
fi
