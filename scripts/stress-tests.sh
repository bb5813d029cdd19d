#!/usr/bin/env bash
# Runs every test binary of both builds N times (default 5) while stress-ng keeps two cores
# busy, and prints each run's failures: the proof that no test depends on how fast the machine
# is. Builds build/release and build/test as scripts/test.sh does when they are missing or old.
#   scripts/stress-tests.sh [N]
set -euo pipefail
cd "$(dirname "$0")/.."

runs=${1:-5}
[[ "$runs" =~ ^[1-9][0-9]*$ ]] || { echo "usage: scripts/stress-tests.sh [RUNS]" >&2; exit 2; }
scripts/bootstrap.sh
if ! command -v stress-ng >/dev/null; then
    sudo=()
    [[ $(id -u) -eq 0 ]] || sudo=(sudo)
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends stress-ng
fi
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELLOQ_TESTS=ON -DVELLOQ_BENCHMARKS=OFF >/dev/null
cmake --build build/release --parallel 2
cmake -S . -B build/test -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVELLOQ_SANITIZE=ON -DVELLOQ_TESTS=ON -DVELLOQ_BENCHMARKS=OFF >/dev/null
cmake --build build/test --parallel 2

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
logs=$(mktemp -d)
stress=
stop_stress() { [[ -z "$stress" ]] || kill "$stress" 2>/dev/null || true; }
trap stop_stress EXIT

total_failed=0
for run in $(seq 1 "$runs"); do
    stress-ng --cpu 2 --timeout 0 >/dev/null 2>&1 &
    stress=$!
    for build in build/release build/test; do
        log="$logs/run$run-${build#build/}.log"
        start=$SECONDS
        status=passed
        ctest --test-dir "$build" --output-on-failure --parallel 2 >"$log" 2>&1 || status=FAILED
        echo "run $run, $build: $status in $((SECONDS - start)) s"
        if [[ $status == FAILED ]]; then
            total_failed=$((total_failed + 1))
            grep -E '^\[  FAILED  \] [^ ]+\.[^ ]+ \(|\*\*\*(Failed|Timeout|Exception)' "$log" | sed 's/^/    /' | sort -u
            echo "    (whole output: $log)"
        fi
    done
    stop_stress
    wait "$stress" 2>/dev/null || true
    stress=
done
echo "$total_failed failed test runs of $((runs * 2))"
(( total_failed == 0 ))
