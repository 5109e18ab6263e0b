#!/bin/sh
# A private PostgreSQL server for tests and benchmarks, in a folder of its
# own, listening on one loopback address and port only.
#
#   site-server.sh start ADDRESS PORT [OWNER]
#                                       creates and starts one; prints its folder.
#                                       With OWNER (a process id), the server is
#                                       removed once that process has ended, so a
#                                       test that crashes leaves none behind.
#   site-server.sh stop FOLDER          stops it (the data stay; start again with restart)
#   site-server.sh restart FOLDER       starts a stopped one again
#   site-server.sh remove FOLDER        stops it and removes the folder
#
# The server has a role "station" with the password "station" (checked over
# TCP with SCRAM) that owns the database "site", and a role "reader" with the
# password "reader" that may only read it. The server refuses to run as
# root, so as root it runs as the unprivileged user postgres. fsync is off
# for speed unless SITE_SERVER_FSYNC=on (benchmarks).
set -eu

BIN=${PG_BIN:-/usr/lib/postgresql/15/bin}

as_server() {
    if [ "$(id -u)" -eq 0 ]; then
        runuser -u postgres -- "$@"
    else
        "$@"
    fi
}

pg_start() {
    folder=$1
    address=$(cat "$folder/address")
    port=$(cat "$folder/port")
    as_server "$BIN/pg_ctl" -D "$folder/data" -l "$folder/server.log" -w -t 60 start \
        -o "-c listen_addresses=$address -p $port -k $folder -c fsync=${SITE_SERVER_FSYNC:-off} -c max_connections=120" >/dev/null
}

case "${1:-}" in
start)
    [ $# -eq 3 ] || [ $# -eq 4 ] || { echo "usage: $0 start ADDRESS PORT [OWNER]" >&2; exit 2; }
    case "$2" in 127.*) ;; *) echo "$0: only loopback addresses" >&2; exit 2 ;; esac
    # /tmp, not $TMPDIR: the server user must reach the folder.
    folder=$(mktemp -d /tmp/ardenix-site.XXXXXX)
    chmod 0755 "$folder"
    echo "$2" >"$folder/address"
    echo "$3" >"$folder/port"
    printf 'postgres\n' >"$folder/pw"
    [ "$(id -u)" -eq 0 ] && chown -R postgres "$folder"
    as_server "$BIN/initdb" -D "$folder/data" -U postgres --pwfile="$folder/pw" --auth-local=trust \
        --auth-host=scram-sha-256 -E UTF8 --locale=C.UTF-8 >"$folder/initdb.log" 2>&1 || {
        cat "$folder/initdb.log" >&2
        rm -rf "$folder"
        exit 1
    }
    pg_start "$folder"
    as_server "$BIN/psql" -h "$folder" -p "$3" -U postgres -d postgres -q -v ON_ERROR_STOP=1 <<'SQL' >/dev/null
CREATE ROLE station LOGIN PASSWORD 'station';
CREATE ROLE reader LOGIN PASSWORD 'reader';
CREATE DATABASE site OWNER station;
\c site
ALTER DEFAULT PRIVILEGES FOR ROLE station GRANT USAGE ON SCHEMAS TO reader;
ALTER DEFAULT PRIVILEGES FOR ROLE station GRANT SELECT ON TABLES TO reader;
GRANT CONNECT ON DATABASE site TO reader;
SQL
    if [ $# -eq 4 ]; then
        owner=$4
        self=$0
        (
            while kill -0 "$owner" 2>/dev/null && [ -d "$folder/data" ]; do sleep 1; done
            [ -d "$folder/data" ] && "$self" remove "$folder"
        ) </dev/null >/dev/null 2>&1 &
    fi
    echo "$folder"
    ;;
stop)
    [ -d "${2:-}/data" ] || { echo "$0: no server in ${2:-}" >&2; exit 2; }
    as_server "$BIN/pg_ctl" -D "$2/data" -m fast -w stop >/dev/null
    ;;
restart)
    [ -d "${2:-}/data" ] || { echo "$0: no server in ${2:-}" >&2; exit 2; }
    pg_start "$2"
    ;;
remove)
    [ -d "${2:-}/data" ] || { echo "$0: no server in ${2:-}" >&2; exit 2; }
    as_server "$BIN/pg_ctl" -D "$2/data" -m fast -w stop >/dev/null 2>&1 || true
    rm -rf "$2"
    ;;
*)
    echo "usage: $0 start ADDRESS PORT [OWNER] | stop FOLDER | restart FOLDER | remove FOLDER" >&2
    exit 2
    ;;
esac
