#!/usr/bin/env bash
# Builds and runs the favourites service benchmark. Arguments go to the benchmark:
#   scripts/bench-service.sh [--clients N] [--seconds T] [--data DIR]
# BUILD_DIR selects the build folder (default: build, the default preset's).
set -euo pipefail
cd "$(dirname "$0")/.."

build=${BUILD_DIR:-build}
if [ ! -f "$build/CMakeCache.txt" ]; then
    if [ "$build" = build ]; then
        cmake --preset default >/dev/null
    else
        cmake -S . -B "$build" -G Ninja >/dev/null
    fi
fi
cmake --build "$build" --target bench_service
exec "$build/bench/bench_service" "$@"
