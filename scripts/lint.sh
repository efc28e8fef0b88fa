#!/usr/bin/env bash
# Checks the style and the lint rules: every C++ file formatted as .clang-format says, and
# no clang-tidy warning (.clang-tidy) in src/ and app/. Needs the compile commands of a
# configured build (default build-test); GCC-only warning options in it are passed over. Exit status 1 on any difference or warning.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$ROOT"
BUILD="${1:-build-test}"

status=0
mapfile -t all < <(git ls-files '*.cpp' '*.h' | grep -E '^(src|app|tests|bench)/')
echo "== clang-format (${#all[@]} files)"
clang-format --dry-run --Werror "${all[@]}" || { echo "Formatting differs: run clang-format -i on the files above."; status=1; }

mapfile -t units < <(git ls-files '*.cpp' | grep -E '^(src|app)/')
echo "== clang-tidy (${#units[@]} files)"
if ! printf '%s\n' "${units[@]}" | xargs -P "$(nproc)" -n 4 clang-tidy --quiet --extra-arg=-Wno-unknown-warning-option -p "$BUILD"; then
  echo "clang-tidy found warnings (above)."
  status=1
fi
exit $status
