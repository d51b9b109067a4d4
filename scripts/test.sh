#!/usr/bin/env bash
# Builds Corvane and runs every test. Installs what is missing on Debian 12 first.
# CORVANE_SANITIZE=1 builds and runs the same suite with ASan + UBSan in build-asan/.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/setup-deps.sh" test

if [ "${CORVANE_SANITIZE:-0}" = 1 ]; then
    build="$top/build-asan"
    extra=(-DCORVANE_SANITIZE=ON -DCORVANE_BUILD_BENCH=OFF -DCMAKE_BUILD_TYPE=Debug)
    export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
    export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
    export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$top/tests/lsan.supp}
else
    build="$top/build"
    extra=()
fi
cmake -S "$top" -B "$build" "${extra[@]}" >/dev/null
cmake --build "$build" -j "$(nproc)"
cd "$build"
ctest --output-on-failure -j "$(nproc)" --timeout 600
