#!/usr/bin/env bash
# A throw-away PostgreSQL server for points of sale that sits 40 ms (round trip) away, as a
# chain's shops do, for the benchmarks. The server runs in its own network namespace; the
# root namespace reaches it only over a veth pair whose traffic is held 20 ms each way.
#
#   scripts/wan.sh start DIR   create the namespace, initialise (first time) and start the
#                              server under DIR/wan, measure the round trip and refuse (exit 1)
#                              unless it is 35-60 ms; prints the variables for the benchmarks
#   scripts/wan.sh stop DIR    stop the server and the delay, delete the namespace and veth
#                              (quiet when they are already down)
#   scripts/wan.sh env DIR     print the variables again
#
# The delay is tc's netem on both veth ends when the kernel has it; otherwise (no sch_netem)
# scripts/wan_relay.c, built here with the system compiler, relays the server's port from the
# namespace's veth address to the server on the namespace's loopback, holding every chunk.
# ETAPAS_WAN_DELAY=relay uses the relay even with netem; =netem refuses to go without it.
#
# Namespace etapas-wan; veth etapas-wan0 10.211.0.1/24 (root) and etapas-wan1 10.211.0.2/24
# (inside). Clients connect to 10.211.0.2:ETAPAS_WAN_PORT (55733). As in scripts/pg.sh, the
# superuser "etapas" logs in without a password and every other login needs its password;
# fsync is off: test data only. The home server stays near (scripts/pg.sh). Run as root.
set -euo pipefail

CMD="${1:-}"
DIR="${2:-}"
PORT="${ETAPAS_WAN_PORT:-55733}"
DELAY="${ETAPAS_WAN_DELAY:-auto}"
SUPERUSER=etapas
NS=etapas-wan
VETH_ROOT=etapas-wan0
VETH_NS=etapas-wan1
ROOT_ADDR=10.211.0.1
NS_ADDR=10.211.0.2
NET=10.211.0.0/24
ONE_WAY_MS=20
RTT_MIN=35
RTT_MAX=60
HERE="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"

usage() {
  echo "usage: $0 start|stop|env DIR" >&2
  exit 2
}
if [ -z "$CMD" ] || [ -z "$DIR" ]; then usage; fi
if ! [[ "$PORT" =~ ^[0-9]{1,5}$ ]] || ((10#$PORT < 1024 || 10#$PORT > 65535)); then
  echo "$0: ETAPAS_WAN_PORT must be a port number from 1024 to 65535" >&2
  exit 2
fi
PORT=$((10#$PORT))
case "$DELAY" in
  auto | netem | relay) ;;
  *)
    echo "$0: ETAPAS_WAN_DELAY must be auto, netem or relay" >&2
    exit 2
    ;;
esac
case "$CMD" in
  start | stop)
    if [ "$(id -u)" -ne 0 ]; then
      echo "$0: $CMD needs root (network namespaces and veth links); run it with sudo" >&2
      exit 1
    fi
    ;;
esac

DIR="$(realpath -m -- "$DIR")"
DATA="$DIR/wan"
RUN="$DIR/wan-run"
RELAY="$RUN/wan_relay"
PIDFILE="$RUN/relay.pid"

# shellcheck source=scripts/pg_common.sh
. "$HERE/pg_common.sh"

in_ns() { ip netns exec "$NS" "$@"; }

print_env() {
  echo "ETAPAS_BENCH_PG_POS=$NS_ADDR:$PORT"
  echo "ETAPAS_BENCH_PG_USER=$SUPERUSER"
  [ ! -s "$RUN/rtt" ] || echo "ETAPAS_WAN_RTT_MS=$(cat "$RUN/rtt")"
  [ ! -s "$RUN/mode" ] || echo "ETAPAS_WAN_MODE=$(cat "$RUN/mode")"
}

ns_exists() { [ -e "/run/netns/$NS" ]; }

net_up() {
  ns_exists || ip netns add "$NS"
  in_ns ip link set lo up
  if ! ip link show "$VETH_ROOT" >/dev/null 2>&1; then
    if [ -n "$(ip -4 -o addr show to "$NET")" ]; then
      echo "$0: $NET is already in use in the root namespace:" >&2
      ip -4 -o addr show to "$NET" >&2
      exit 1
    fi
    ip -n "$NS" link del "$VETH_NS" >/dev/null 2>&1 || true
    ip link add "$VETH_ROOT" type veth peer name "$VETH_NS" netns "$NS"
  fi
  ip addr replace "$ROOT_ADDR/24" dev "$VETH_ROOT"
  ip link set "$VETH_ROOT" up
  ip -n "$NS" addr replace "$NS_ADDR/24" dev "$VETH_NS"
  ip -n "$NS" link set "$VETH_NS" up
}

# netem on both ends when the kernel has it; the mode is kept until stop.
choose_delay() {
  if [ -s "$RUN/mode" ]; then
    cat "$RUN/mode"
    return
  fi
  local mode=relay
  if [ "$DELAY" != relay ] &&
    tc qdisc replace dev "$VETH_ROOT" root netem delay "${ONE_WAY_MS}ms" limit 100000 2>/dev/null &&
    in_ns tc qdisc replace dev "$VETH_NS" root netem delay "${ONE_WAY_MS}ms" limit 100000 2>/dev/null; then
    mode=netem
  else
    tc qdisc del dev "$VETH_ROOT" root >/dev/null 2>&1 || true
    if [ "$DELAY" = netem ]; then
      echo "$0: this kernel has no netem (tc qdisc ... netem fails); ETAPAS_WAN_DELAY=auto uses the relay" >&2
      exit 1
    fi
  fi
  echo "$mode" >"$RUN/mode"
  echo "$mode"
}

server_up() {
  local mode="$1" bin listen=127.0.0.1
  bin="$(bindir)"
  [ "$mode" = relay ] || listen="127.0.0.1,$NS_ADDR"
  if [ ! -f "$DATA/PG_VERSION" ]; then
    mkdir -p "$DATA"
    [ -z "$OWNER" ] || chown "$OWNER" "$DATA"
    chmod 700 "$DATA"
    "${RUNAS[@]}" "$bin/initdb" -D "$DATA" -U "$SUPERUSER" --auth=trust -E UTF8 --locale=C --no-sync >"$RUN/initdb.log" 2>&1 || {
      cat "$RUN/initdb.log" >&2
      exit 1
    }
    # The relay connects from the namespace's loopback; with netem clients come over the veth.
    cat >"$DATA/pg_hba.conf" <<EOF
host all $SUPERUSER 127.0.0.1/32 trust
host all all 127.0.0.1/32 scram-sha-256
host all $SUPERUSER $NET trust
host all all $NET scram-sha-256
EOF
    # No Unix socket: it would reach the server from the root namespace without the delay.
    cat >>"$DATA/postgresql.conf" <<EOF
port = $PORT
unix_socket_directories = ''
max_connections = 320
fsync = off
synchronous_commit = off
full_page_writes = off
EOF
    [ -z "$OWNER" ] || chown "$OWNER" "$DATA/pg_hba.conf" "$DATA/postgresql.conf"
  fi
  if "${RUNAS[@]}" "$bin/pg_ctl" -D "$DATA" status >/dev/null 2>&1; then
    return
  fi
  in_ns "${RUNAS[@]}" "$bin/pg_ctl" -D "$DATA" -l "$DATA/server.log" -o "-c listen_addresses=$listen -c port=$PORT" \
    -w -t 60 start >/dev/null || {
    tail -n 20 "$DATA/server.log" >&2 || true
    exit 1
  }
}

relay_pid() {
  local pid
  pid="$(cat "$PIDFILE" 2>/dev/null || true)"
  [[ "$pid" =~ ^[0-9]+$ ]] && [ "$(cat "/proc/$pid/comm" 2>/dev/null || true)" = wan_relay ] || return 1
  echo "$pid"
}

relay_up() {
  local src="$HERE/wan_relay.c" i
  if [ ! -x "$RELAY" ] || [ "$src" -nt "$RELAY" ]; then
    cc -O2 -Wall -Wextra -std=c11 -o "$RELAY.new" "$src" || {
      echo "$0: could not build $src with cc" >&2
      exit 1
    }
    chmod 755 "$RELAY.new"
    mv -f "$RELAY.new" "$RELAY"
  fi
  relay_pid >/dev/null && return
  rm -f "$PIDFILE"
  # Detached and unprivileged; it writes its pid once it listens.
  setsid ip netns exec "$NS" "${RUNAS[@]}" "$RELAY" "$NS_ADDR" "$PORT" 127.0.0.1 "$PORT" "$ONE_WAY_MS" "$PIDFILE" \
    </dev/null >>"$RUN/relay.log" 2>&1 &
  for ((i = 0; i < 50; i++)); do
    relay_pid >/dev/null && return
    sleep 0.1
  done
  echo "$0: the relay did not start:" >&2
  tail -n 5 "$RUN/relay.log" >&2 || true
  exit 1
}

# Median of nine "select 1" round trips on one connection, as psql times them.
measure_rtt() {
  local out
  out="$(
    {
      printf '%s\n' '\timing on'
      for _ in 1 2 3 4 5 6 7 8 9; do echo 'select 1;'; done
    } | LC_ALL=C psql -X -q -At "host=$NS_ADDR port=$PORT user=$SUPERUSER dbname=postgres connect_timeout=10" 2>&1
  )" || {
    echo "$0: could not reach the server at $NS_ADDR:$PORT:" >&2
    echo "$out" >&2
    exit 1
  }
  echo "$out" | awk '/^Time: /{ print $2 }' | sort -n | awk '{ v[NR] = $1 } END { if (NR) printf "%.1f\n", v[int((NR + 1) / 2)] }'
}

start() {
  local mode rtt
  command -v psql >/dev/null || {
    echo "$0: psql is needed to check the round trip (install postgresql-client)" >&2
    exit 1
  }
  mkdir -p "$DIR" "$RUN"
  chmod 755 "$DIR" "$RUN"
  [ -z "$OWNER" ] || chown "$OWNER" "$RUN"
  net_up
  mode="$(choose_delay)"
  server_up "$mode"
  if [ "$mode" = relay ]; then relay_up; fi
  rtt="$(measure_rtt)"
  if [ -z "$rtt" ] || ! awk -v r="$rtt" -v lo="$RTT_MIN" -v hi="$RTT_MAX" 'BEGIN { exit !(r >= lo && r <= hi) }'; then
    echo "$0: the round trip to $NS_ADDR:$PORT is ${rtt:-unknown} ms, not within $RTT_MIN-$RTT_MAX ms ($mode): not fit to measure with; see $RUN and scripts/wan.sh stop" >&2
    rm -f "$RUN/rtt"
    exit 1
  fi
  echo "$rtt" >"$RUN/rtt"
  print_env
}

stop() {
  local pid i
  if pid="$(relay_pid)"; then
    kill "$pid" 2>/dev/null || true
    for ((i = 0; i < 50; i++)); do
      [ -d "/proc/$pid" ] || break
      sleep 0.1
    done
    kill -KILL "$pid" 2>/dev/null || true
  fi
  rm -f "$PIDFILE" "$RUN/rtt" "$RUN/mode"
  if [ -f "$DATA/PG_VERSION" ]; then
    "${RUNAS[@]}" "$(bindir)/pg_ctl" -D "$DATA" -m fast -w -t 60 stop >/dev/null 2>&1 || true
  fi
  ! ns_exists || ip netns del "$NS"
  ! ip link show "$VETH_ROOT" >/dev/null 2>&1 || ip link del "$VETH_ROOT"
}

case "$CMD" in
  start) start ;;
  stop) stop ;;
  env) print_env ;;
  *) usage ;;
esac
