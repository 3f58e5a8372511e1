#!/usr/bin/env bash
# A throwaway PostgreSQL cluster for tests and benchmarks, on 127.0.0.1 only.
#
#   scripts/pg-test-server.sh start STATE_FILE [-c name=value ...]
#       initdb into a new temporary folder, start the server on a free port and write its
#       connection string (a libpq keyword list) to STATE_FILE, the folder on its second line.
#       A cluster left running by an earlier start with the same STATE_FILE is stopped first.
#   scripts/pg-test-server.sh stop STATE_FILE
#       stop that server (fast shutdown) and remove its folder; nothing to stop is no error.
#   scripts/pg-test-server.sh halt STATE_FILE
#       stop it at once (immediate shutdown, as a crash would), keeping its folder.
#   scripts/pg-test-server.sh resume STATE_FILE
#       start a halted server again, on the same port.
#
# As root the server runs as the unprivileged user `nobody` (PostgreSQL refuses to run as
# root). The server binaries are found under /usr/lib/postgresql/*/bin (or PG_BIN).
set -euo pipefail

usage() {
  echo "usage: $0 start|stop|halt|resume STATE_FILE [-c name=value ...]" >&2
  exit 2
}
[ $# -ge 2 ] || usage
action=$1
state=$2
shift 2

bin=${PG_BIN:-}
if [ -z "$bin" ]; then
  bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1 || true)
fi
if [ -z "$bin" ] || [ ! -x "$bin/initdb" ]; then
  echo "pg-test-server: no PostgreSQL server binaries (install the postgresql package)" >&2
  exit 1
fi

as_server() {
  if [ "$(id -u)" -eq 0 ]; then
    runuser -u nobody -- "$@"
  else
    "$@"
  fi
}

stop() {
  [ -f "$state" ] || return 0
  local dir
  dir=$(sed -n 2p "$state")
  if [ -n "$dir" ] && [ -d "$dir" ]; then
    as_server "$bin/pg_ctl" stop -D "$dir/data" -m fast -w >/dev/null 2>&1 || true
    rm -rf "$dir"
  fi
  rm -f "$state"
}

server_start() {  # DIR PORT
  as_server "$bin/pg_ctl" start -D "$1/data" -w -t 30 -l "$1/server.log" \
    -o "-c listen_addresses=127.0.0.1 -c port=$2 -c unix_socket_directories='' $(cat "$1/options")" \
    >/dev/null 2>&1
}

case "$action" in
  stop)
    stop
    ;;
  halt)
    dir=$(sed -n 2p "$state")
    as_server "$bin/pg_ctl" stop -D "$dir/data" -m immediate -w >/dev/null
    ;;
  resume)
    dir=$(sed -n 2p "$state")
    port=$(sed -n 1p "$state" | sed 's/.*port=\([0-9]*\).*/\1/')
    server_start "$dir" "$port" || { cat "$dir/server.log" >&2; exit 1; }
    ;;
  start)
    stop
    dir=$(mktemp -d "${TMPDIR:-/tmp}/qel-pg-XXXXXX")
    chmod 755 "$dir"
    printf '%s\n' "$*" >"$dir/options"
    if [ "$(id -u)" -eq 0 ]; then chown nobody "$dir"; fi
    if ! as_server "$bin/initdb" -D "$dir/data" -U qel -A trust -E UTF8 --locale=C.UTF-8 \
        >"$dir/initdb.log" 2>&1; then
      cat "$dir/initdb.log" >&2
      rm -rf "$dir"
      exit 1
    fi
    # A free port: the server itself says whether it could take one.
    started=""
    for _ in $(seq 1 20); do
      port=$((20000 + RANDOM % 30000))
      if server_start "$dir" "$port"; then
        started=$port
        break
      fi
    done
    if [ -z "$started" ]; then
      cat "$dir/server.log" >&2 || true
      rm -rf "$dir"
      exit 1
    fi
    printf 'host=127.0.0.1 port=%s user=qel dbname=postgres\n%s\n' "$started" "$dir" >"$state"
    ;;
  *)
    usage
    ;;
esac
