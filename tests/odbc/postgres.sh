#!/bin/bash
# A private PostgreSQL server for the ODBC tests: started in a folder of its
# own on a Unix socket there, with no TCP port, and stopped again.
#
#   postgres.sh start DIR   initdb and start; prints the ODBC connection string
#   postgres.sh stop DIR    stop the server and remove DIR
#
# PostgreSQL refuses to run as root: as root the server runs as the
# unprivileged "postgres" user that Debian's package creates. The packaged
# cluster is left alone.
set -euo pipefail
action=$1
dir=$2
bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
[ -x "$bin/initdb" ] || { echo "postgres.sh: no PostgreSQL server installed" >&2; exit 2; }
as_owner() {
  if [ "$(id -u)" -eq 0 ]; then runuser -u postgres -- "$@"; else "$@"; fi
}
case "$action" in
  start)
    rm -rf "$dir"
    mkdir -p "$dir"
    [ "$(id -u)" -eq 0 ] && chown postgres "$dir"
    as_owner "$bin/initdb" -D "$dir/data" -A trust -U kvr -E UTF8 --locale=C.UTF-8 >"$dir/initdb.log" 2>&1
    as_owner "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 \
      -o "-c listen_addresses='' -k $dir -c fsync=off" start >/dev/null
    as_owner "$bin/createdb" -h "$dir" -U kvr switcher
    echo "Driver={PostgreSQL Unicode};Servername=$dir;Port=5432;Database=switcher;Username=kvr;" | tee "$dir/connection"
    ;;
  stop)
    if [ -d "$dir/data" ]; then
      as_owner "$bin/pg_ctl" -D "$dir/data" -m fast -w stop >/dev/null 2>&1 || true
    fi
    rm -rf "$dir"
    ;;
  *)
    echo "usage: postgres.sh start|stop DIR" >&2
    exit 2
    ;;
esac
