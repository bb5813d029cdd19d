#!/usr/bin/env bash
# Presenting frames in the program's own Wayland window, beside memcpy of the same bytes in the same
# run: bench_shell on the phone's compositor (phoc) nested in an X server of its own (Xvfb), which
# gives it the seat a window needs.
#
#   bench/wayland_present.sh [PROGRAM_FOLDER]      (default build/bench/bin)
set -euo pipefail
bin=$(realpath "${1:-build/bench/bin}")
[ $# -gt 0 ] && shift
work=$(mktemp -d)
pids=()
trap 'for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done; wait 2>/dev/null || true; rm -rf "$work"' EXIT
screen=120
while [ -e "/tmp/.X$screen-lock" ]; do screen=$((screen + 1)); done
Xvfb ":$screen" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 & pids+=($!)
until [ -e "/tmp/.X11-unix/X$screen" ]; do sleep 0.05; done
mkdir -m 700 "$work/runtime"
XDG_RUNTIME_DIR="$work/runtime" WAYLAND_DISPLAY= DISPLAY=":$screen" WLR_BACKENDS=x11 WLR_RENDERER=pixman phoc >/dev/null 2>&1 & pids+=($!)
until [ -S "$work/runtime/wayland-0" ]; do sleep 0.05; done
XDG_RUNTIME_DIR="$work/runtime" WAYLAND_DISPLAY=wayland-0 DISPLAY= SDL_VIDEODRIVER=wayland \
    ${BENCH_WRAPPER:-} "$bin/bench_shell" --benchmark_filter='Present|Baseline|Widen' "$@"
