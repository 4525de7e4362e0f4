#!/usr/bin/env bash
# Sets up the machine, builds everything from scratch and runs every test.
# Usage: scripts/test.sh [build folder] [extra cmake arguments...]
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

build=${1:-build}
shift || true
rm -rf "$build"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
cmake --build "$build" -j"$(nproc)"
ctest --test-dir "$build" --output-on-failure -j"$(nproc)" --timeout 300
