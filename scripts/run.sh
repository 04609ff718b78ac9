#!/usr/bin/env bash
# Builds the program if needed, starts the bundled favourites service when nothing answers on the
# program's service host yet, then runs the program. The service started here stops with it.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh >/dev/null
cmake --preset default >/dev/null
cmake --build --preset default --target pellamark pellamark-service

build=build/default
host=$(sed -n 's/^PELLAMARK_SERVICE_HOST:STRING=//p' "$build/CMakeCache.txt")
host=${host:-127.0.0.1:8480}
addr=${host%:*}
port=${host##*:}
[ "$addr" = "$host" ] && port=80

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "run: no graphical session (DISPLAY or WAYLAND_DISPLAY) to show the program in" >&2
    exit 1
fi

answers() { (exec 3<>"/dev/tcp/$addr/$port") 2>/dev/null; }

service_pid=""
cleanup() {
    if [ -n "$service_pid" ]; then
        kill "$service_pid" 2>/dev/null || true
        wait "$service_pid" 2>/dev/null || true
    fi
}
trap cleanup EXIT

if answers; then
    echo "run: a service already answers on $host"
else
    log="${XDG_STATE_HOME:-$HOME/.local/state}/pellamark-service.log"
    mkdir -p "$(dirname "$log")"
    "$build/service/pellamark-service" --listen "$host" >>"$log" 2>&1 &
    service_pid=$!
    for _ in $(seq 1 100); do
        answers && break
        kill -0 "$service_pid" 2>/dev/null || { echo "run: the service did not start, see $log" >&2; exit 1; }
        sleep 0.05
    done
    echo "run: started the favourites service on $host (log: $log)"
fi

status=0
"$build/app/pellamark" || status=$?
exit "$status"
