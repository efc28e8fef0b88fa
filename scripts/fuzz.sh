#!/usr/bin/env bash
# Builds the fuzzers of tests/fuzz with clang (build-fuzz/) and runs each for SECONDS_EACH
# seconds (default 10) on a copy of its seed corpus. Fails when any of them finds a crash,
# a leak, a hang or a broken check; the input that did it is left in build-fuzz/findings/.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$ROOT"
SECONDS_EACH="${1:-10}"
FUZZERS="translator like ini consultas comando"

cmake -S . -B build-fuzz -DETAPAS_FUZZ=ON -DETAPAS_TESTS=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang >/dev/null
targets=()
for f in $FUZZERS; do targets+=("fuzz_$f"); done
cmake --build build-fuzz -j2 --target "${targets[@]}"

status=0
mkdir -p build-fuzz/findings
for f in $FUZZERS; do
  # The seeds stay as committed; what the run adds goes to a scratch corpus.
  work="build-fuzz/corpus/$f"
  mkdir -p "$work"
  echo "== fuzz_$f for ${SECONDS_EACH}s"
  if ! ASAN_OPTIONS=detect_leaks=1 "build-fuzz/tests/fuzz/fuzz_$f" -max_total_time="$SECONDS_EACH" -timeout=10 \
      -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="build-fuzz/findings/$f-" \
      "$work" "tests/fuzz/corpus/$f" 2>"build-fuzz/fuzz_$f.log"; then
    tail -n 40 "build-fuzz/fuzz_$f.log"
    echo "fuzz_$f FAILED: see build-fuzz/fuzz_$f.log and build-fuzz/findings/"
    status=1
  else
    grep -E "^stat::number_of_executed_units|^Done" "build-fuzz/fuzz_$f.log" || true
  fi
done
exit $status
