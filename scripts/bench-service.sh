#!/usr/bin/env bash
# Builds and runs the favourites service benchmarks.
#
#   scripts/bench-service.sh [--clients N] [--seconds T] [--data DIR | --database LOCATION]
#       load on the service running inside the benchmark (default: SQLite in a temporary folder)
#   scripts/bench-service.sh --stores [--clients N] [--seconds T]
#       the same load on service processes: one on SQLite, one on PostgreSQL, and two side by
#       side on one PostgreSQL database (a throw-away cluster that syncs every commit to disk,
#       as SQLite does), then their figures in one table
#   scripts/bench-service.sh --slow-clients [--seconds T] [--sources N] [--scenario IDLE:SLOW]...
#       a normal client's latency while idle and slow-dripping connections are held open
#   scripts/bench-service.sh --large [--clients N] [--seconds T]
#       a million favourites of 10,000 users, one of them with 100,000, generated into SQLite and
#       into PostgreSQL; for each store a service process is measured through HTTP (first page,
#       the 500th page by its key, a search, a tag filter, pages of 20-favourite users, edit,
#       add), then with wrk -t2 -c32 on the pages of the 20-favourite users, and its peak
#       resident memory is read
#   scripts/bench-service.sh --import
#       bookmark files through HTTP, for each store a service process: import of 10,000 bookmarks
#       in 300 folders 4 deep, import of 100,000 (~100 MB with ICON data) with the service's
#       resident memory sampled throughout and another user's page views and adds timed
#       meanwhile, then the export of the 100,000; the load average is printed with each
#
# BUILD_DIR selects the build folder (default: build/default, the default preset's).
set -euo pipefail
cd "$(dirname "$0")/.."

build=${BUILD_DIR:-build/default}
if [ ! -f "$build/CMakeCache.txt" ]; then
    if [ "$build" = build/default ]; then
        cmake --preset default >/dev/null
    else
        cmake -S . -B "$build" -G Ninja >/dev/null
    fi
fi

case ${1:-} in
--slow-clients)
    shift
    cmake --build "$build" --target bench_slow_clients pellamark-service
    exec "$build/bench/bench_slow_clients" "$@"
    ;;
--stores | --large | --import)
    mode=$1
    shift
    ;;
*)
    cmake --build "$build" --target bench_service
    exec "$build/bench/bench_service" "$@"
    ;;
esac

cmake --build "$build" --target bench_service bench_service_import bench_bookmark_file \
    pellamark-service
cluster=tests/service/postgres-cluster.sh
work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    bash "$cluster" stop "$work/cluster" || true
    rm -rf "$work"
}
trap cleanup EXIT

# Starts a service process with the given store options and sets $port to its port. Not for
# $(...): the process id must reach the clean-up in this shell.
start_service() {
    local out="$work/service.${#pids[@]}"
    "$build/service/pellamark-service" --listen 127.0.0.1:0 "$@" >"$out" 2>/dev/null &
    pids+=($!)
    for _ in $(seq 1 100); do
        if grep -q '^listening on ' "$out"; then
            port=$(sed -n 's/^listening on .*://p' "$out")
            return
        fi
        sleep 0.05
    done
    echo "bench-service: the service did not start" >&2
    exit 1
}

bash "$cluster" start "$work/cluster" --durable
if [ "$(sed -n 1p "$work/cluster")" != ok ]; then
    echo "bench-service: no PostgreSQL: $(sed -n 2p "$work/cluster")" >&2
    exit 1
fi
connection=$(sed -n 2p "$work/cluster")
folder=$(sed -n 3p "$work/cluster")
bin=$(sed -n 4p "$work/cluster")
for db in bench_one bench_two bench_large bench_import; do
    "$bin/createdb" -h "$folder" -U postgres "$db"
done

if [ "$mode" = --import ]; then
    echo "== generating the bookmark files"
    "$build/bench/bench_bookmark_file" --bookmarks 10000 --keep "$work/small.html" | head -1
    "$build/bench/bench_bookmark_file" --bookmarks 100000 --keep "$work/large.html" | head -1
    for store in sqlite postgresql; do
        if [ $store = sqlite ]; then
            location="sqlite:$work/import"
        else
            location="${connection/dbname=postgres/dbname=bench_import}"
        fi
        start_service --database "$location"
        service_pid=${pids[-1]}
        echo "== $store: $(uptime)"
        "$build/bench/bench_service_import" --target "127.0.0.1:$port" --pid "$service_pid" \
            --small "$work/small.html" --large "$work/large.html" || true
        echo "== $store done: $(uptime)"
        kill "$service_pid"
        wait "$service_pid" 2>/dev/null || true
        echo
    done
    exit 0
fi

if [ "$mode" = --large ]; then
    command -v wrk >/dev/null || { echo "bench-service: wrk is missing (scripts/install-deps.sh)" >&2; exit 1; }
    for store in sqlite postgresql; do
        if [ $store = sqlite ]; then
            location="sqlite:$work/large"
        else
            location="${connection/dbname=postgres/dbname=bench_large}"
        fi
        echo "== $store: generating"
        "$build/bench/bench_service" --generate --database "$location"
        start_service --database "$location"
        service_pid=${pids[-1]}
        echo "== $store: $(uptime)"
        "$build/bench/bench_service" --large --target "127.0.0.1:$port" "$@" || true
        echo "== $store: wrk -t2 -c32 -d10s, pages of 20-favourite users"
        wrk -t2 -c32 -d10s --latency -s bench/wrk-small-users.lua "http://127.0.0.1:$port" |
            grep -E 'Requests/sec|50%|99%|Non-2xx|Socket errors'
        echo "peak resident memory of the service: $(awk '/VmHWM/ { print $2, $3 }' /proc/$service_pid/status)"
        kill "$service_pid"
        wait "$service_pid" 2>/dev/null || true
        echo
    done
    exit 0
fi

run() {
    local name=$1
    shift
    echo "== $name"
    "$build/bench/bench_service" "$@" | tee "$work/result.$name"
    echo
}

start_service --data "$work/sqlite"
run sqlite --target "127.0.0.1:$port" "$@"
start_service --database "${connection/dbname=postgres/dbname=bench_one}"
run postgresql-1 --target "127.0.0.1:$port" "$@"
start_service --database "${connection/dbname=postgres/dbname=bench_two}"
two_a=$port
start_service --database "${connection/dbname=postgres/dbname=bench_two}"
run postgresql-2 --target "127.0.0.1:$two_a" --target "127.0.0.1:$port" "$@"

printf '%-34s %12s %8s %12s %12s %8s\n' setup requests/s adds/s "add p50 ms" "add p99 ms" errors
for setup in "sqlite:SQLite, one process" "postgresql-1:PostgreSQL, one process" \
    "postgresql-2:PostgreSQL, two processes"; do
    file="$work/result.${setup%%:*}"
    awk -v name="${setup#*:}" '
        /^requests /          { gsub(/[()]/, ""); rps = $3 }
        /^adds acknowledged / { gsub(/[()]/, ""); aps = $4 }
        /^add latency /       { p50 = $4; p99 = $7 }
        /^errors /            { errors = $2 }
        END { printf "%-34s %12s %8s %12s %12s %8s\n", name, rps, aps, p50, p99, errors }' "$file"
done
