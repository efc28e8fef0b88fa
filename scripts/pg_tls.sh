#!/usr/bin/env bash
# A throw-away PostgreSQL server that takes only TLS connections on loopback, for the TLS
# tests, with its own certificate authority.
#
#   scripts/pg_tls.sh start DIR PORT   DIR: an empty folder. Writes DIR/ca.crt (the authority
#                                      that signed the server's certificate, for "localhost"
#                                      only) and DIR/other-ca.crt (an authority that did not),
#                                      and starts the server in DIR/data on 127.0.0.1:PORT.
#                                      The role etapas_tls, password $ETAPAS_TLS_PASSWORD, owns
#                                      the database tpv_tls.
#   scripts/pg_tls.sh stop DIR         stops it (quietly does nothing when it is not up)
#
# With ETAPAS_TLS_WATCH_PID set, the server is stopped and DIR removed once that process is
# gone, however it ended.
#
# Exit status 77: the PostgreSQL server programs or openssl are not installed.
set -euo pipefail

CMD="${1:-}"
DIR="${2:-}"
PORT="${3:-}"
SUPERUSER=etapas

usage() {
  echo "usage: $0 start DIR PORT | stop DIR" >&2
  exit 2
}
[ -n "$CMD" ] && [ -n "$DIR" ] || usage

PG_MISSING_STATUS=77
# shellcheck source=scripts/pg_common.sh
. "$(dirname "${BASH_SOURCE[0]}")/pg_common.sh"

authority() {
  local name="$1" cn="$2"
  openssl req -x509 -new -nodes -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -days 2 -subj "/CN=$cn" \
    -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" \
    -keyout "$DIR/$name.key" -out "$DIR/$name.crt" 2>>"$DIR/openssl.log"
}

start() {
  [ -n "$PORT" ] || usage
  [ -n "${ETAPAS_TLS_PASSWORD:-}" ] || { echo "$0: ETAPAS_TLS_PASSWORD is not set" >&2; exit 2; }
  command -v openssl >/dev/null 2>&1 || { echo "$0: openssl not found" >&2; exit 77; }
  local bin data
  bin="$(bindir)"
  data="$DIR/data"
  mkdir -p "$data"
  chmod 755 "$DIR"
  chmod 700 "$data"

  authority ca "Etapas test CA"
  authority other-ca "Etapas other CA"
  openssl req -new -nodes -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -subj "/CN=localhost" \
    -keyout "$DIR/server.key" -out "$DIR/server.csr" 2>>"$DIR/openssl.log"
  printf 'subjectAltName=DNS:localhost\nbasicConstraints=CA:FALSE\nkeyUsage=digitalSignature,keyEncipherment\nextendedKeyUsage=serverAuth\n' \
    >"$DIR/server.ext"
  openssl x509 -req -in "$DIR/server.csr" -CA "$DIR/ca.crt" -CAkey "$DIR/ca.key" -CAcreateserial -days 2 \
    -extfile "$DIR/server.ext" -out "$DIR/server.crt" 2>>"$DIR/openssl.log"
  # The authorities' keys are not needed any more.
  rm -f "$DIR/ca.key" "$DIR/other-ca.key" "$DIR/server.csr" "$DIR/ca.srl"

  [ -z "$OWNER" ] || chown "$OWNER" "$DIR" "$data"
  "${RUNAS[@]}" "$bin/initdb" -D "$data" -U "$SUPERUSER" --auth=trust -E UTF8 --locale=C --no-sync \
    >"$DIR/initdb.log" 2>&1 || {
    cat "$DIR/initdb.log" >&2
    exit 1
  }
  mv "$DIR/server.crt" "$DIR/server.key" "$data/"
  chmod 600 "$data/server.key"
  # Only the superuser's local socket goes without TLS and password.
  cat >"$data/pg_hba.conf" <<EOF
local all all trust
hostssl all all 127.0.0.1/32 scram-sha-256
EOF
  cat >>"$data/postgresql.conf" <<EOF
listen_addresses = '127.0.0.1'
port = $PORT
unix_socket_directories = '$DIR'
max_connections = 20
shared_buffers = 16MB
fsync = off
synchronous_commit = off
full_page_writes = off
ssl = on
ssl_cert_file = 'server.crt'
ssl_key_file = 'server.key'
EOF
  [ -z "$OWNER" ] || chown "$OWNER" "$data/pg_hba.conf" "$data/postgresql.conf" "$data/server.crt" "$data/server.key"
  "${RUNAS[@]}" "$bin/pg_ctl" -D "$data" -l "$data/server.log" -w -t 30 start >/dev/null || {
    tail -n 20 "$data/server.log" >&2 || true
    exit 1
  }
  # The password goes through standard input, not the command line.
  "${RUNAS[@]}" "$bin/psql" -X -q -h "$DIR" -p "$PORT" -U "$SUPERUSER" -d postgres -v ON_ERROR_STOP=1 \
    -v "pw=$ETAPAS_TLS_PASSWORD" >/dev/null <<'EOF'
CREATE ROLE etapas_tls LOGIN PASSWORD :'pw';
CREATE DATABASE tpv_tls OWNER etapas_tls;
EOF
  if [ -n "${ETAPAS_TLS_WATCH_PID:-}" ]; then
    # Detached from our output: whoever reads it must not wait for the watch.
    setsid bash -c 'while kill -0 "$1" 2>/dev/null; do sleep 1; done; "$2" stop "$3"; rm -rf "$3"' \
      watch "$ETAPAS_TLS_WATCH_PID" "$0" "$DIR" </dev/null >/dev/null 2>&1 &
  fi
}

stop() {
  local data="$DIR/data"
  [ -f "$data/PG_VERSION" ] || return 0
  local bin
  bin="$(bindir)"
  "${RUNAS[@]}" "$bin/pg_ctl" -D "$data" -m immediate -w -t 30 stop >/dev/null 2>&1 || true
}

case "$CMD" in
  start)
    # A half-started server is not left behind.
    trap 'rc=$?; [ "$rc" -eq 0 ] || stop; exit "$rc"' EXIT
    start
    ;;
  stop) stop ;;
  *) usage ;;
esac
