# Shared by scripts/pg.sh and scripts/pg_tls.sh (sourced): where the PostgreSQL server
# programs are, and who runs them. PG_MISSING_STATUS is the exit status when they are absent.

# Debian keeps the server programs out of PATH, one folder per major version.
bindir() {
  if [ -n "${PG_BINDIR:-}" ]; then
    echo "$PG_BINDIR"
    return
  fi
  local found
  found="$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1 || true)"
  if [ -n "$found" ] && [ -x "$found/initdb" ]; then
    echo "$found"
  elif command -v initdb >/dev/null 2>&1; then
    dirname "$(command -v initdb)"
  else
    echo "$0: PostgreSQL server programs not found (install the postgresql package)" >&2
    exit "${PG_MISSING_STATUS:-1}"
  fi
}

# The server refuses to run as root: as root, run it as the postgres user.
RUNAS=()
OWNER=""
if [ "$(id -u)" -eq 0 ]; then
  OWNER=postgres
  if ! id "$OWNER" >/dev/null 2>&1; then
    OWNER=etapas-pg
    id "$OWNER" >/dev/null 2>&1 || useradd --system --no-create-home --shell /usr/sbin/nologin "$OWNER"
  fi
  RUNAS=(runuser -u "$OWNER" --)
fi
