#!/usr/bin/env bash
# Runs the Windows builds of the core tests under Wine, in a Wine prefix made for one test run.
#
#   wine-run.sh probe   ARCH            exit 0 when Wine can run ARCH programs here, else print why
#   wine-run.sh setup   ARCH STATE      make a fresh prefix in a temporary folder (the ctest fixture)
#   wine-run.sh cleanup ARCH STATE      stop its Wine processes and delete it
#   wine-run.sh run     ARCH STATE PROGRAM [ARGS...]
#                                       run PROGRAM in that prefix; a test listing (which the build
#                                       asks for before any test run) gets a prefix of its own in
#                                       STATE; exits 77 (skipped) with the reason when Wine can't
#                                       run ARCH programs here
#
# ARCH is win32 or win64. STATE is a folder of the build tree that holds the path of the prefix.
set -euo pipefail

SKIP=77

mode=${1:?mode}
arch=${2:?arch}
state=${3:-}

case "$arch" in
win32) loader=/usr/lib/wine/wine wineserver=/usr/lib/wine/wineserver32 ;;
win64) loader=/usr/lib/wine/wine64 wineserver=/usr/lib/wine/wineserver64 ;;
*)
    echo "wine-run: unknown arch $arch" >&2
    exit 2
    ;;
esac
# Elsewhere than Debian the loaders are on the PATH. (Debian's own `wine` on the PATH runs the
# 64-bit loader when the 32-bit one is not installed, so it does not count there.)
[ -e "$loader" ] || [ -d /usr/lib/wine ] || loader=$(command -v "${loader##*/}" || echo "$loader")
[ -e "$wineserver" ] || wineserver=$(command -v wineserver || echo "$wineserver")

# Wine without a display, a proxy or the desktop: no dialog can wait for an answer, no request
# goes anywhere but where the test sends it, no menu entries or icons land in the user's home.
export WINEARCH=$arch
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
unset DISPLAY WAYLAND_DISPLAY http_proxy HTTP_PROXY https_proxy HTTPS_PROXY all_proxy ALL_PROXY \
    no_proxy NO_PROXY

# Why Wine can't run ARCH programs here, or nothing when it can.
why_not() {
    if [ ! -e "$loader" ]; then
        echo "Wine for $arch is not installed ($loader missing)"
        return
    fi
    local out
    if ! out=$("$loader" --version 2>&1); then
        case "$out" in
        *"Exec format error"*)
            # A kernel without ia32 emulation (or with it switched off) runs no i386 program.
            echo "this machine's kernel runs no 32-bit x86 programs, so not Wine's $arch loader" ;;
        *) echo "Wine's $arch loader does not start here: ${out##*: }" ;;
        esac
    fi
}

prefix_file() { echo "$state/prefix"; }

case "$mode" in
probe)
    reason=$(why_not)
    [ -z "$reason" ] || {
        echo "$reason"
        exit 1
    }
    ;;

setup)
    reason=$(why_not)
    if [ -n "$reason" ]; then
        echo "skipped: $reason"
        exit $SKIP
    fi
    mkdir -p "$state"
    root=$(mktemp -d "${TMPDIR:-/tmp}/pellamark-wine-XXXXXX")
    export WINEPREFIX="$root/prefix"
    started=$(date +%s)
    mkdir "$WINEPREFIX"
    # One server for the whole run keeps every test's start short; it goes by itself a minute
    # after the last Wine program ends, should the clean-up never run. Neither it nor the Wine
    # services that wineboot leaves running may hold ctest's output open: ctest would wait for them.
    "$wineserver" -p60 </dev/null >/dev/null 2>&1
    "$loader" wineboot --init </dev/null >"$root/wineboot.log" 2>&1 || {
        cat "$root/wineboot.log" >&2
        "$wineserver" -k || true
        rm -rf "$root"
        exit 1
    }
    echo "$WINEPREFIX" >"$(prefix_file)"
    echo "Wine $arch prefix $WINEPREFIX ready in $(($(date +%s) - started)) s"
    ;;

cleanup)
    [ -f "$(prefix_file)" ] || exit 0
    WINEPREFIX=$(cat "$(prefix_file)")
    export WINEPREFIX
    "$wineserver" -k 2>/dev/null || true
    "$wineserver" -w 2>/dev/null || true
    rm -rf "$(dirname "$WINEPREFIX")" "$(prefix_file)"
    ;;

run)
    shift 3
    reason=$(why_not)
    if [ -n "$reason" ]; then
        echo "skipped: $reason"
        exit $SKIP
    fi
    if [[ " $* " == *" --gtest_list_tests "* ]]; then
        # Listing the tests only starts the program: a prefix kept in the build tree will do.
        mkdir -p "$state"
        export WINEPREFIX="$state/listing-prefix"
        [ -d "$WINEPREFIX" ] || "$loader" wineboot --init >/dev/null 2>&1
    else
        if [ ! -f "$(prefix_file)" ]; then
            echo "wine-run: no Wine prefix for this run; run the tests through ctest" >&2
            exit 1
        fi
        WINEPREFIX=$(cat "$(prefix_file)")
        export WINEPREFIX
    fi
    exec "$loader" "$@"
    ;;

*)
    echo "wine-run: unknown mode $mode" >&2
    exit 2
    ;;
esac
