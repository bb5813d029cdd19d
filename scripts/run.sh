#!/usr/bin/env bash
# Installs what is missing, builds the program folder and starts the program.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/bootstrap.sh
build=build/release
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELLOQ_TESTS=OFF -DVELLOQ_BENCHMARKS=OFF >/dev/null
cmake --build "$build" --parallel 2
if [[ -x "$build/bin/velloq" ]]; then
    exec "$build/bin/velloq" "$@"
fi
# The window and the forms are not built yet: until then this shows the device's registry,
# which is what the program will read its settings from.
echo "velloq: the messenger itself is not built yet; it will start from $build/bin/velloq."
echo "The registry tool is ready: $build/bin/velloq-reg (device folder: \${VELLOQ_DEVICE:-~/.local/share/velloq})"
exec "$build/bin/velloq-reg" list 'HKEY_CURRENT_USER\Software\Ketra'
