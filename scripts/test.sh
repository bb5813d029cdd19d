#!/usr/bin/env bash
# Installs what is missing, then builds and tests twice: with AddressSanitizer and
# UndefinedBehaviorSanitizer (build/test), and the Release build users run (build/release, the
# folder scripts/run.sh uses). Every test binary runs whole, in a new order each time, on both.
# VELLOQ_FUZZ_RUNS=N (N > 0) also builds the fuzzers with clang and runs each over N inputs.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/bootstrap.sh
fuzz_runs=${VELLOQ_FUZZ_RUNS:-0}
fuzz=(-DVELLOQ_FUZZERS=OFF)
[[ "$fuzz_runs" =~ ^[1-9][0-9]*$ ]] && fuzz=(-DVELLOQ_FUZZERS=ON "-DVELLOQ_FUZZ_RUNS=$fuzz_runs")

cmake -S . -B build/test -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVELLOQ_SANITIZE=ON -DVELLOQ_TESTS=ON -DVELLOQ_BENCHMARKS=OFF "${fuzz[@]}"
cmake --build build/test --parallel 2
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELLOQ_TESTS=ON -DVELLOQ_BENCHMARKS=OFF
cmake --build build/release --parallel 2

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
failed=()
for build in build/test build/release; do
    echo "== tests of $build"
    ctest --test-dir "$build" --output-on-failure --parallel 2 || failed+=("$build")
done
if (( ${#failed[@]} )); then
    echo "tests failed in: ${failed[*]}"
    exit 1
fi
