#!/usr/bin/env bash
# Sets up the machine, builds everything and runs every test once: the normal
# build with its plain tests, then the sanitizer build (address + undefined behaviour) of the tests that
# exercise threads and parsers, then each fuzz target from its seeds within one
# fixed fuzzing budget (VZ_FUZZ_SECONDS, default 240 s in all).
set -euo pipefail
cd "$(dirname "$0")/.."
# Paths under the checkout reach the compiler cache relative to it, so a clone
# in another folder hits the same cache entries.
export CCACHE_BASEDIR="$PWD"
# Debug information names the build folder, which the cache would otherwise hash
# too: every clone in another folder would miss it.
export CCACHE_NOHASHDIR=true
# Two presets of a tree this size outgrow the default 5 GB cache.
export CCACHE_MAXSIZE=${CCACHE_MAXSIZE:-20G}

bash scripts/setup.sh

jobs=$(nproc)
# One test per core: the sanitized tests that move large amounts of data
# compute all the time, and twice as many as cores starved them past their limits.
test_jobs=$jobs
# The whole fuzzing run, split evenly between the targets.
fuzz_budget=${VZ_FUZZ_SECONDS:-240}
summary=$(mktemp)
trap 'rm -f "$summary"' EXIT

# Runs one CTest preset and remembers its count for the closing line.
run_ctest() {
  ctest --preset "$1" -j "$test_jobs" | tee -a "$summary"
}

echo "== normal build"
# The tests of threads and parsers run once, in the sanitizer build below.
cmake --preset default -DVZ_SANITIZED_TESTS_ELSEWHERE=ON
cmake --build --preset default -j "$jobs"
run_ctest default

echo "== sanitizer build"
cmake --preset asan
cmake --build --preset asan -j "$jobs"
run_ctest asan

# Each target starts from its seeds in fuzz/corpus/<target>/, copied so that
# what the run adds stays out of the checkout. A crashing input is kept in
# build/asan/fuzz-artifacts/.
fuzzers=()
while IFS= read -r fuzzer; do
  fuzzers+=("$fuzzer")
done < <(find build/asan/fuzz -type f -name '*Fuzzer' -perm -u+x | sort)
if [ ${#fuzzers[@]} -gt 0 ]; then
  per_target=$((fuzz_budget / ${#fuzzers[@]}))
  [ "$per_target" -ge 1 ] || per_target=1
  echo "== fuzzing (${fuzz_budget} s in all: ${per_target} s for each of ${#fuzzers[@]} targets)"
  artifacts=build/asan/fuzz-artifacts
  mkdir -p "$artifacts"
  for fuzzer in "${fuzzers[@]}"; do
    name=$(basename "$fuzzer")
    corpus=$(mktemp -d)
    if [ -d "fuzz/corpus/$name" ]; then cp -R "fuzz/corpus/$name/." "$corpus/"; fi
    echo "-- $name"
    "$fuzzer" -max_total_time="$per_target" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="$artifacts/$name-" "$corpus" 2>&1 | tail -n 12
    rm -rf "$corpus"
  done
fi
passed=$(sed -n 's/.*tests passed, \([0-9]*\) tests failed out of \([0-9]*\).*/\2/p' "$summary" | awk '{ total += $1 } END { print total + 0 }')
echo "$passed passed, 0 failed"
