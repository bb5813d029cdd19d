#!/usr/bin/env bash
# Start-up of velloq to its chat list on screen: the first start (no chat cache) and later starts
# (with it), each without the fixed half second of the splash step, the resident memory then, the
# peak memory of a first start, the cache file's size, and the CPU the program uses while it sits
# idle on the chat list with a message waiting in the outbox. Measured headless (SDL's dummy video
# driver), where Xvfb is installed on a real X server, as a user sees it, and where phoc is
# installed too on the phone's compositor nested in that X server, in the program's own Wayland
# window.
#
#   bench/startup.sh [--size 100k|1m] [PROGRAM_FOLDER]      (default 100k, build/bench/bin)
#
# 100k is 100,000 messages in 2,000 chats with 1,500 contacts; 1m is 1,000,000 messages in 10,000
# chats with 3,000 contacts. ONLY=x11 measures on X alone. The program folder is copied, so
# nothing it writes touches the build.
set -euo pipefail
size=100k
if [ "${1:-}" = --size ]; then size=$2; shift 2; fi
case "$size" in
    100k) messages=100000 chats=2000 contacts=1500 ;;
    1m) messages=1000000 chats=10000 contacts=3000 ;;
    *) echo "startup.sh: --size is 100k or 1m" >&2; exit 2 ;;
esac
source_folder=${1:-build/bench/bin}
runs=${RUNS:-5}
idle_seconds=${IDLE_SECONDS:-10}
only=${ONLY:-}
work=$(mktemp -d)
xvfb_pid=
phoc_pid=
trap '[ -n "$phoc_pid" ] && kill "$phoc_pid" 2>/dev/null; [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null; rm -rf "$work"' EXIT
cp -r "$source_folder" "$work/program"
program="$work/program"
export VELLOQ_DEVICE="$work/device"
mkdir -p "$VELLOQ_DEVICE"
"$program/velloq-sms" seed --chats "$chats" --messages "$messages" --seed 3 --contacts "$contacts" >/dev/null
"$program/velloq-reg" set 'HKEY_CURRENT_USER\Software\Ketra' Log dword 1
log="$VELLOQ_DEVICE/Temp/velloq.txt"
indexed=

log_text() { iconv -f UTF-16LE -t UTF-8 "$log" 2>/dev/null | tr -d '\r' || true; }
# The log is UTF-16LE: its lines are looked for as those bytes, without converting the whole log
# at every look.
utf16_pattern() { printf '%s' "$1" | iconv -f UTF-8 -t UTF-16LE | od -An -v -tx1 | tr -s ' \n' ' ' | sed 's/ *$//; s/ \([0-9a-f][0-9a-f]\)/\\x\1/g'; }
on_screen=$(utf16_pattern 'chat list on screen:')
log_number() { log_text | grep -o "$1[0-9]*" | tail -1 | grep -o '[0-9]*$'; }
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }

# One start: the time from the exec to the first frame of the chat list presented, less the
# splash's 0.5 s, as the program logs it (measured from its process's start, so the 50 ms between
# looks at the log do not count), with the program's own figures from its log; the resident and
# the peak memory once the start is over; with "idle", also the share of a core it uses while
# nothing happens.
start_once() {
    rm -f "$log"
    local pid rss private peak idle=""
    "$program/velloq" & pid=$!
    until grep -qaP "$on_screen" "$log" 2>/dev/null; do sleep 0.05; done
    sleep 0.3
    # The rest of the start (the store's news, the contacts) follows the first frame.
    until log_text | grep -q 'load_contacts time:'; do sleep 0.05; done
    sleep 0.5
    rss=$(awk '/VmRSS/ { print $2 }' "/proc/$pid/status")
    private=$(awk '/RssAnon/ { print $2 }' "/proc/$pid/status")
    peak=$(awk '/VmHWM/ { print $2 }' "/proc/$pid/status")
    if [ "${2:-}" = idle ]; then
        sleep 2
        local before=$(cpu_ticks "$pid")
        sleep "$idle_seconds"
        idle=$(printf '  idle %.2f %% of a core' "$(echo "($(cpu_ticks "$pid") - $before) * 100 / $(getconf CLK_TCK) / $idle_seconds" | bc -l)")
    fi
    kill -TERM "$pid"; wait "$pid" || true
    local wall=$(( $(log_number 'chat list on screen:') - 500 ))
    local inside=$(( $(log_number 'total_load_time:') + $(log_number 'start time1:') + $(log_number 'start time2:') ))
    printf '%-10s on screen %5d ms  in-program %5d ms (update_chats %5d ms, contacts %3d ms)  resident %6.1f MB (private %6.1f MB, peak %6.1f MB)%s\n' \
        "$1" "$wall" "$inside" "$(log_number 'update_chats time:')" "$(log_number 'load_contacts time:')" \
        "$(echo "$rss / 1024" | bc -l)" "$(echo "$private / 1024" | bc -l)" "$(echo "$peak / 1024" | bc -l)" "$idle"
}

# A new store's messages are indexed for search in the background once, at the first start that
# lasts; the idle figure is of a program with nothing left to do, so that is done first.
build_search_index() {
    [ -n "$indexed" ] && return
    rm -f "$log"
    SDL_VIDEODRIVER=dummy "$program/velloq" & local pid=$!
    until grep -qaP "$(utf16_pattern 'messages indexed in')" "$log" 2>/dev/null; do sleep 0.2; done
    kill -TERM "$pid"; wait "$pid" || true
    echo "search index of the new store: $(log_text | grep -o 'search index: [0-9]* messages indexed in [0-9]* ms' | tail -1)"
    indexed=1
}

all_starts() {
    build_search_index
    for run in $(seq "$runs"); do
        rm -f "$VELLOQ_DEVICE/cache"
        start_once "no cache"
    done
    for run in $(seq "$runs"); do
        start_once "with cache"
    done
    start_once "with cache" idle
    echo "cache file: $(du -k "$VELLOQ_DEVICE/cache" | cut -f1) KB"
}

echo "velloq start-up, $messages messages in $chats chats, $contacts contacts ($(nproc) cores)"
if [ -z "$only" ]; then
    echo "headless (SDL_VIDEODRIVER=dummy):"
    SDL_VIDEODRIVER=dummy all_starts
fi
if command -v Xvfb >/dev/null; then
    screen=99
    while [ -e "/tmp/.X11-unix/X$screen" ]; do screen=$((screen + 1)); done
    Xvfb ":$screen" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 & xvfb_pid=$!
    until [ -e "/tmp/.X11-unix/X$screen" ]; do sleep 0.05; done
    echo "on X (Xvfb :$screen, the program's window as a user sees it):"
    DISPLAY=":$screen" SDL_VIDEODRIVER=x11 all_starts
    if [ -n "$only" ]; then
        :
    elif command -v phoc >/dev/null; then
        mkdir -m 700 "$work/runtime"
        XDG_RUNTIME_DIR="$work/runtime" WAYLAND_DISPLAY= DISPLAY=":$screen" WLR_BACKENDS=x11 WLR_RENDERER=pixman phoc >/dev/null 2>&1 & phoc_pid=$!
        until [ -S "$work/runtime/wayland-0" ]; do sleep 0.05; done
        echo "on phoc (nested in that X server), in the program's own Wayland window:"
        XDG_RUNTIME_DIR="$work/runtime" WAYLAND_DISPLAY=wayland-0 DISPLAY= SDL_VIDEODRIVER= all_starts
    else
        echo "on phoc: phoc is not installed (scripts/bootstrap.sh installs it)"
    fi
else
    echo "on X: Xvfb is not installed (scripts/bootstrap.sh installs it)"
fi
