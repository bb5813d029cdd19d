#!/usr/bin/env bash
# Installs what is missing, builds the program folder and starts the program.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/bootstrap.sh
build=build/release
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELLOQ_TESTS=OFF -DVELLOQ_BENCHMARKS=OFF >/dev/null
cmake --build "$build" --parallel 2
exec "$build/bin/velloq" "$@"
