#!/usr/bin/env bash
# Installs what is missing, builds and starts the Corvane window.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    echo "corvane: no display (set DISPLAY or WAYLAND_DISPLAY, or QT_QPA_PLATFORM)" >&2
    exit 1
fi
scripts/setup-deps.sh run
cmake -S . -B build >/dev/null
cmake --build build --target corvane -j2
exec build/app/corvane "$@"
