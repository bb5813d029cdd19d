#!/usr/bin/env bash
# Installs what is missing, then builds and tests twice: the Release build users run
# (build/release, the folder scripts/run.sh uses) and a build with AddressSanitizer and
# UndefinedBehaviorSanitizer (build/test). Every test binary runs whole, in a new order each time.
# The Release tests mostly wait on timers and processes, so they run while the sanitizer build
# compiles. VELLOQ_FUZZ_RUNS=N (N > 0) also builds the fuzzers with clang and runs each N times.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/bootstrap.sh
fuzz_runs=${VELLOQ_FUZZ_RUNS:-0}
fuzz=(-DVELLOQ_FUZZERS=OFF)
[[ "$fuzz_runs" =~ ^[1-9][0-9]*$ ]] && fuzz=(-DVELLOQ_FUZZERS=ON "-DVELLOQ_FUZZ_RUNS=$fuzz_runs")

cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELLOQ_TESTS=ON -DVELLOQ_BENCHMARKS=OFF
cmake --build build/release --parallel 2

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
release_log=build/release/test-run.log
ctest --test-dir build/release --output-on-failure --parallel 2 >"$release_log" 2>&1 &
release_tests=$!

cmake -S . -B build/test -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVELLOQ_SANITIZE=ON -DVELLOQ_TESTS=ON -DVELLOQ_BENCHMARKS=OFF "${fuzz[@]}"
sanitizer_built=0
cmake --build build/test --parallel 2 || sanitizer_built=$?

failed=()
wait "$release_tests" || failed+=(build/release)
echo "== tests of build/release"
cat "$release_log"
(( sanitizer_built == 0 )) || { echo "the sanitizer build failed"; exit 1; }
echo "== tests of build/test"
ctest --test-dir build/test --output-on-failure --parallel 2 || failed+=(build/test)
if (( ${#failed[@]} )); then
    echo "tests failed in: ${failed[*]}"
    exit 1
fi
