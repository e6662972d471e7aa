#!/usr/bin/env bash
# Sets up the machine, builds everything and runs every test: the normal build,
# then the sanitizer build (address + undefined behaviour) of the tests that
# exercise threads and parsers, then each fuzz target for a bounded time.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

jobs=$(nproc)
fuzz_seconds=${VZ_FUZZ_SECONDS:-30}
summary=$(mktemp)
trap 'rm -f "$summary"' EXIT

# Runs one CTest preset and remembers its count for the closing line.
run_ctest() {
  ctest --preset "$1" -j "$jobs" | tee -a "$summary"
}

echo "== normal build"
cmake --preset default
cmake --build --preset default -j "$jobs"
run_ctest default

echo "== sanitizer build"
cmake --preset asan
cmake --build --preset asan -j "$jobs"
run_ctest asan

echo "== fuzzing (${fuzz_seconds} s per target)"
for fuzzer in build/asan/fuzz/*Fuzzer; do
  [ -x "$fuzzer" ] || continue
  corpus=$(mktemp -d)
  "$fuzzer" -max_total_time="$fuzz_seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 "$corpus" 2>&1 | tail -n 12
  rm -rf "$corpus"
done
passed=$(sed -n 's/.*tests passed, \([0-9]*\) tests failed out of \([0-9]*\).*/\2/p' "$summary" | awk '{ total += $1 } END { print total + 0 }')
echo "$passed passed, 0 failed"
