#!/usr/bin/env bash
# Start-up of velloq to its first drawn chat list on a store of 100,000 messages in 2,000 chats:
# the first start (no chat cache) and later starts (with it), each without the fixed half
# second of the splash step, and the resident memory after start-up.
#
#   bench/startup.sh [PROGRAM_FOLDER]      (default build/bench/bin)
#
# The program folder is copied, so the cache it writes never touches the build.
set -euo pipefail
source_folder=${1:-build/bench/bin}
runs=${RUNS:-5}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp -r "$source_folder" "$work/program"
program="$work/program"
export VELLOQ_DEVICE="$work/device" SDL_VIDEODRIVER=${SDL_VIDEODRIVER:-dummy}
mkdir -p "$VELLOQ_DEVICE"
"$program/velloq-sms" seed --chats 2000 --messages 100000 --seed 3 --contacts 1500 >/dev/null
"$program/velloq-reg" set 'HKEY_CURRENT_USER\Software\Ketra' Log dword 1
log="$VELLOQ_DEVICE/Temp/velloq.txt"

log_text() { iconv -f UTF-16LE -t UTF-8 "$log" 2>/dev/null | tr -d '\r' || true; }
log_number() { log_text | grep -o "$1[0-9]*" | tail -1 | grep -o '[0-9]*$'; }

# One start: wall time from the exec to the chat list on screen, less the splash's 0.5 s, with
# the program's own figures from its log.
start_once() {
    rm -f "$log"
    local begin end pid rss private
    begin=$(date +%s%N)
    "$program/velloq" & pid=$!
    until log_text | grep -q 'start time2:'; do sleep 0.05; done
    end=$(date +%s%N)
    sleep 0.3
    rss=$(awk '/VmRSS/ { print $2 }' "/proc/$pid/status")
    private=$(awk '/RssAnon/ { print $2 }' "/proc/$pid/status")
    kill -TERM "$pid"; wait "$pid" || true
    local wall=$(( (end - begin) / 1000000 - 500 ))
    local inside=$(( $(log_number 'total_load_time:') + $(log_number 'start time1:') + $(log_number 'start time2:') ))
    printf '%-10s wall %5d ms  in-program %5d ms (update_chats %5d ms, contacts %3d ms)  resident %5.1f MB (private %5.1f MB)\n' \
        "$1" "$wall" "$inside" "$(log_number 'update_chats time:')" "$(log_number 'load_contacts time:')" \
        "$(echo "$rss / 1024" | bc -l)" "$(echo "$private / 1024" | bc -l)"
}

echo "velloq start-up, 100,000 messages in 2,000 chats, 1,500 contacts ($(nproc) cores)"
for run in $(seq "$runs"); do
    rm -f "$program/cache"
    start_once "no cache"
done
for run in $(seq "$runs"); do
    start_once "with cache"
done
