#!/usr/bin/env bash
# Builds with AddressSanitizer and UndefinedBehaviorSanitizer and runs every test: first on
# the embedded engine (twice: the second time under a Spanish locale), then again on two
# PostgreSQL servers on loopback (the home server and a points-of-sale server, started here
# and stopped at the end whatever happens).
# The tests make their own temporary data roots; the user's data is never touched.
# ETAPAS_SKIP_POSTGRESQL=1 leaves the second run out. Then the .deb, built, unpacked and its
# programs run from a read-only folder (scripts/package.sh), and the formatting and clang-tidy
# checks (scripts/lint.sh). Last, each fuzzer runs for
# ETAPAS_FUZZ_SECONDS (default 10) seconds; ETAPAS_FUZZ_SECONDS=0 leaves them out.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$ROOT"

bash scripts/deps.sh
cmake -S . -B build-test -DETAPAS_SANITIZE=ON -DETAPAS_WERROR=ON
cmake --build build-test -j2

status=0
echo "== Tests on the embedded engine"
ctest --test-dir build-test --output-on-failure -j2 || status=1

# A Spanish desktop's locale (decimal comma) must change nothing the program reads or writes.
echo "== Tests on the embedded engine under LC_ALL=es_ES.UTF-8"
LC_ALL=es_ES.UTF-8 ctest --test-dir build-test --output-on-failure -j2 || status=1

if [ "${ETAPAS_SKIP_POSTGRESQL:-0}" != "1" ]; then
  echo "== Tests on PostgreSQL"
  PGDIR="$(mktemp -d "${TMPDIR:-/tmp}/etapas-pg.XXXXXX")"
  trap 'bash "$ROOT/scripts/pg.sh" stop "$PGDIR"; rm -rf "$PGDIR"' EXIT
  bash scripts/pg.sh start "$PGDIR" >"$PGDIR/env"
  set -a
  # shellcheck disable=SC1091
  . "$PGDIR/env"
  set +a
  ctest --test-dir build-test --output-on-failure -j2 || status=1
fi

echo "== The Debian package, installed into a temporary root and run from a read-only folder"
bash scripts/package.sh build-pkg || status=1

echo "== Style and lint"
bash scripts/lint.sh build-test || status=1

if [ "${ETAPAS_FUZZ_SECONDS:-10}" != "0" ]; then
  echo "== Fuzzers"
  bash scripts/fuzz.sh "${ETAPAS_FUZZ_SECONDS:-10}" || status=1
fi
exit $status
