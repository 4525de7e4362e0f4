#!/usr/bin/env bash
# Sets up the machine, builds and runs every test. The build is incremental:
# only what changed since the last run is built again; --clean deletes the
# build folder first and builds everything from scratch, as CI does.
# Usage: scripts/test.sh [--clean] [build folder] [extra cmake arguments...]
set -euo pipefail
cd "$(dirname "$0")/.."

clean=no
if [ "${1:-}" = "--clean" ]; then
    clean=yes
    shift
fi

bash scripts/setup.sh

build=${1:-build}
shift || true
[ "$clean" = yes ] && rm -rf "$build"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
cmake --build "$build" -j"$(nproc)"
# The proofs that take minutes (label "proof") run by name, not here.
ctest --test-dir "$build" --output-on-failure -j"$(nproc)" --timeout 300 -LE proof
