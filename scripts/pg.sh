#!/usr/bin/env bash
# Two throw-away PostgreSQL servers on loopback for the tests and the benchmark: the home
# server and a server for points of sale, each a cluster under DIR.
#
#   scripts/pg.sh start DIR   initialise (first time) and start both; prints the variables
#                             that point the tests at them
#   scripts/pg.sh stop DIR    stop both (quietly does nothing for a server that is not up)
#   scripts/pg.sh env DIR     print the variables again
#
# Ports: ETAPAS_PG_HOME_PORT (55432) and ETAPAS_PG_POS_PORT (55433). The servers listen on
# 127.0.0.1 only. Their superuser "etapas" logs in from loopback without a password; every
# other login needs its password. They trade durability for speed (fsync off): test data only.
set -euo pipefail

CMD="${1:-}"
DIR="${2:-}"
HOME_PORT="${ETAPAS_PG_HOME_PORT:-55432}"
POS_PORT="${ETAPAS_PG_POS_PORT:-55433}"
SUPERUSER=etapas

usage() {
  echo "usage: $0 start|stop|env DIR" >&2
  exit 2
}
[ -n "$CMD" ] && [ -n "$DIR" ] || usage

# shellcheck source=scripts/pg_common.sh
. "$(dirname "${BASH_SOURCE[0]}")/pg_common.sh"

print_env() {
  echo "ETAPAS_TEST_ENGINE=postgresql"
  echo "ETAPAS_TEST_PG_HOME=127.0.0.1:$HOME_PORT"
  echo "ETAPAS_TEST_PG_POS=127.0.0.1:$POS_PORT"
  echo "ETAPAS_TEST_PG_USER=$SUPERUSER"
}

start_one() {
  local name="$1" port="$2" bin data
  bin="$(bindir)"
  data="$DIR/$name"
  if [ ! -f "$data/PG_VERSION" ]; then
    mkdir -p "$data"
    [ -z "$OWNER" ] || chown "$OWNER" "$DIR" "$data"
    chmod 700 "$data"
    "${RUNAS[@]}" "$bin/initdb" -D "$data" -U "$SUPERUSER" --auth=trust -E UTF8 --locale=C --no-sync >"$DIR/$name-initdb.log" 2>&1 || {
      cat "$DIR/$name-initdb.log" >&2
      exit 1
    }
    cat >"$data/pg_hba.conf" <<EOF
local all all trust
host all $SUPERUSER 127.0.0.1/32 trust
host all all 127.0.0.1/32 scram-sha-256
EOF
    cat >>"$data/postgresql.conf" <<EOF
listen_addresses = '127.0.0.1'
port = $port
unix_socket_directories = '$DIR'
max_connections = 320
fsync = off
synchronous_commit = off
full_page_writes = off
EOF
    [ -z "$OWNER" ] || chown "$OWNER" "$data/pg_hba.conf" "$data/postgresql.conf"
  fi
  if "${RUNAS[@]}" "$bin/pg_ctl" -D "$data" status >/dev/null 2>&1; then
    return
  fi
  if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
    echo "$0: port $port is already in use; set ETAPAS_PG_HOME_PORT / ETAPAS_PG_POS_PORT" >&2
    exit 1
  fi
  # Also on clusters initialised with fewer: a test connects 200 stores of one server at once.
  "${RUNAS[@]}" "$bin/pg_ctl" -D "$data" -l "$data/server.log" -o "-c max_connections=320" -w -t 60 start >/dev/null || {
    tail -n 20 "$data/server.log" >&2 || true
    exit 1
  }
}

stop_one() {
  local name="$1" bin data
  bin="$(bindir)"
  data="$DIR/$name"
  [ -f "$data/PG_VERSION" ] || return 0
  "${RUNAS[@]}" "$bin/pg_ctl" -D "$data" -m fast -w -t 60 stop >/dev/null 2>&1 || true
}

case "$CMD" in
  start)
    mkdir -p "$DIR"
    chmod 755 "$DIR"
    start_one home "$HOME_PORT"
    start_one pos "$POS_PORT"
    print_env
    ;;
  stop)
    stop_one home
    stop_one pos
    ;;
  env) print_env ;;
  *) usage ;;
esac
