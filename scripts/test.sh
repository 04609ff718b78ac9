#!/usr/bin/env bash
# Installs what is needed, checks formatting and the include layers, builds everything (warnings
# are errors), cross-builds the core library and its tests for 32-bit and 64-bit Windows, then runs
# every test: the Windows ones under Wine, in a Wine prefix made afresh for the run.
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

echo "== build (32-bit and 64-bit Windows core and its tests)"
for preset in win32-core win64-core; do
    cmake --preset $preset
    cmake --build --preset $preset
done

echo "== tests"
status=0
ctest --preset ci -j2 || status=1
# The same core tests built for Windows, under Wine. Where this machine can't run 32-bit x86 code
# the 32-bit ones are reported as skipped, with the reason.
for preset in win32-core win64-core; do
    echo "== tests (Windows, $preset, under Wine)"
    if ! reason=$(bash tests/wine/wine-run.sh probe "${preset%-core}"); then
        echo "== $preset: every test is skipped: $reason"
    fi
    started=$(date +%s)
    ctest --preset $preset || status=1
    echo "== $preset under Wine took $(($(date +%s) - started)) s"
done
exit $status
