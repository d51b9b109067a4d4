#!/usr/bin/env bash
# Builds the Debian package from a Release build in build-release/ and prints the .deb's path last.
# Install it with: sudo apt-get install ./build-release/package/corvane_*.deb
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/setup-deps.sh" package
build="$top/build-release"
# Debian's hardening and optimisation flags, as a Debian build would use.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cxxflags="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
ldflags=$(dpkg-buildflags --get LDFLAGS)
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=Release -DCORVANE_BUILD_TESTS=OFF -DCORVANE_BUILD_BENCH=OFF \
    -DCMAKE_CXX_FLAGS="$cxxflags" -DCMAKE_EXE_LINKER_FLAGS="$ldflags" >/dev/null
cmake --build "$build" -j "$(nproc)"
rm -f "$build"/package/corvane_*.deb
(cd "$build" && cpack -B "$build/package") >&2
deb=$(ls "$build"/package/corvane_*.deb)
echo "$deb"
