#!/usr/bin/env bash
# Sets up the machine, builds everything and runs every test: the normal build,
# then the sanitizer build (address + undefined behaviour) of the tests that
# exercise threads and parsers, then each fuzz target for a bounded time.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

jobs=$(nproc)
fuzz_seconds=${VZ_FUZZ_SECONDS:-30}

echo "== normal build"
cmake --preset default
cmake --build --preset default -j "$jobs"
ctest --preset default -j "$jobs"

echo "== sanitizer build"
cmake --preset asan
cmake --build --preset asan -j "$jobs"
ctest --preset asan -j "$jobs"

echo "== fuzzing (${fuzz_seconds} s per target)"
for fuzzer in build/asan/fuzz/*Fuzzer; do
  [ -x "$fuzzer" ] || continue
  corpus=$(mktemp -d)
  "$fuzzer" -max_total_time="$fuzz_seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 "$corpus" 2>&1 | tail -n 12
  rm -rf "$corpus"
done
echo "all tests passed"
