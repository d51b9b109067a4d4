#!/usr/bin/env bash
# Builds the benchmarks and runs each one; they print their own figures.
# Usage: scripts/bench.sh [NAME-FILTER]   (run as root: they use port 137, raw ICMP and namespaces)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/setup-deps.sh" bench
build="$top/build-bench"
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=Release -DCORVANE_BUILD_BENCH=ON >/dev/null
cmake --build "$build" -j "$(nproc)"
filter=${1:-}
mapfile -t benches < <(find "$build/bench" -type f -executable ! -name '*.so' ! -path '*/CMakeFiles/*' ! -path '*_autogen/*' | sort)
[ ${#benches[@]} -gt 0 ] || { echo "no benchmarks built" >&2; exit 1; }
for b in "${benches[@]}"; do
    name=$(basename "$b")
    [[ -z "$filter" || "$name" == *"$filter"* ]] || continue
    echo "== $name"
    QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen} "$b"
done
