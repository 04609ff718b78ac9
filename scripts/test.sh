#!/usr/bin/env bash
# Installs what is needed, checks formatting and the include layers, builds everything (warnings
# are errors), cross-builds the core library for 32-bit Windows, then runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

echo "== formatting"
files=$(git ls-files '*.cpp' '*.h' 2>/dev/null || true)
if [ -n "$files" ]; then
    # shellcheck disable=SC2086
    clang-format --dry-run --Werror $files
fi

echo "== include layers"
python3 scripts/check-includes.py

echo "== build (Linux)"
cmake --preset ci
cmake --build --preset ci

echo "== build (32-bit Windows core)"
cmake --preset win32-core
cmake --build --preset win32-core

echo "== tests"
ctest --preset ci -j2
