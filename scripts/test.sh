#!/usr/bin/env bash
# Builds with AddressSanitizer and UndefinedBehaviorSanitizer and runs every test.
# The tests make their own temporary data roots; the user's data is never touched.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$ROOT"

bash scripts/deps.sh
cmake -S . -B build-test -DETAPAS_SANITIZE=ON
cmake --build build-test -j2
ctest --test-dir build-test --output-on-failure -j2
