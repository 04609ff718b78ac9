#!/usr/bin/env bash
# A throw-away PostgreSQL cluster for the service tests and benchmarks: initdb into a private
# temporary folder, the server on a Unix socket in that folder (no TCP port to collide on).
#
#   postgres-cluster.sh start STATE [--durable]  start one; STATE gets four lines:
#                                                 "ok", the connection string, folder, bin folder
#                                                 or "skip" and the reason when it cannot be had
#   postgres-cluster.sh pause STATE              stop the server, keep the data
#   postgres-cluster.sh resume STATE             start the server again
#   postgres-cluster.sh stop STATE               stop it and remove everything, STATE too
#
# Without --durable the server does not fsync: the tests need a database, not crash safety, and
# a shutdown still writes everything out. initdb and the server refuse to run as root, so as
# root they run as the postgres user the Debian package creates.
set -euo pipefail

command=${1:-}
state=${2:-}
if [ -z "$command" ] || [ -z "$state" ]; then
    echo "usage: $0 start|pause|resume|stop STATE [--durable]" >&2
    exit 2
fi

as_owner() {
    if [ "$(id -u)" -eq 0 ]; then
        runuser -u postgres -- "$@"
    else
        "$@"
    fi
}

skip() {
    printf 'skip\n%s\n' "$1" >"$state"
    echo "postgres-cluster: $1" >&2
    exit 0
}

read_state() {
    mapfile -t lines <"$state"
    [ "${lines[0]:-}" = ok ] || exit 0
    dir=${lines[2]}
    bin=${lines[3]}
}

case $command in
start)
    # A cluster left behind by an interrupted run goes first.
    if [ -f "$state" ]; then
        "$0" stop "$state"
    fi
    bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1 || true)
    if [ -z "$bin" ] || [ ! -x "$bin/initdb" ]; then
        skip "PostgreSQL is not installed (no initdb under /usr/lib/postgresql; scripts/install-deps.sh installs the postgresql package)"
    fi
    if [ "$(id -u)" -eq 0 ] && ! id postgres >/dev/null 2>&1; then
        skip "running as root, and there is no postgres user to own a PostgreSQL cluster"
    fi
    # A short path: a Unix socket's path is limited to about 100 bytes.
    dir=$(mktemp -d /tmp/pellamark-pg.XXXXXX)
    if [ "$(id -u)" -eq 0 ]; then
        chown postgres: "$dir"
    fi
    if ! as_owner "$bin/initdb" -D "$dir/data" -U postgres -A trust -E UTF8 --locale=C \
        --no-sync >"$dir/initdb.log" 2>&1; then
        cat "$dir/initdb.log" >&2
        rm -rf "$dir"
        exit 1
    fi
    {
        echo "listen_addresses = ''"
        echo "unix_socket_directories = '$dir'"
        echo "max_connections = 300"
        if [ "${3:-}" != --durable ]; then
            echo "fsync = off"
            echo "full_page_writes = off"
        fi
    } >>"$dir/data/postgresql.conf"
    if ! as_owner "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 start >/dev/null; then
        cat "$dir/server.log" >&2
        rm -rf "$dir"
        exit 1
    fi
    printf 'ok\nhost=%s port=5432 user=postgres dbname=postgres\n%s\n%s\n' "$dir" "$dir" "$bin" \
        >"$state"
    ;;
pause)
    read_state
    as_owner "$bin/pg_ctl" -D "$dir/data" -m fast -w -t 60 stop >/dev/null
    ;;
resume)
    read_state
    as_owner "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 start >/dev/null
    ;;
stop)
    [ -f "$state" ] || exit 0
    read_state
    as_owner "$bin/pg_ctl" -D "$dir/data" -m immediate -w -t 60 stop >/dev/null 2>&1 || true
    rm -rf "$dir"
    rm -f "$state"
    ;;
*)
    echo "unknown command: $command" >&2
    exit 2
    ;;
esac
