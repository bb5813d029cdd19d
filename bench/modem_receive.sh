#!/usr/bin/env bash
# Receiving through the modem service from a mock ModemManager on a private system bus:
#  - 1,000 messages waiting on the modem when the service starts, and 1,000 arriving one after
#    another while it runs: messages filed per second, and how long the service takes to answer
#    its socket meanwhile (a ping every 20 ms: median and slowest answer);
#  - the time from a message's arrival on the bus to its chat taking it in a running program
#    (its " modify chats time:" log line), against a message put into the store directly
#    (velloq-sms deliver) in the same run.
#
#   bench/modem_receive.sh [PROGRAM_FOLDER]      (default build/bench/bin)
set -euo pipefail
cd "$(dirname "$0")/.."
program=$(realpath "${1:-build/bench/bin}")
mock=$(realpath tests/fixtures/modem/mock_modemmanager.py)
runs=${RUNS:-10}
work=$(mktemp -d)
pids=()
cleanup() { for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done; wait 2>/dev/null || true; rm -rf "$work"; }
trap cleanup EXIT

address="unix:path=$work/bus"
export DBUS_SYSTEM_BUS_ADDRESS=$address SDL_VIDEODRIVER=${SDL_VIDEODRIVER:-dummy}
dbus-daemon --session --nofork --nopidfile --address="$address" & pids+=($!)
until [ -S "$work/bus" ]; do sleep 0.05; done

start_mock() {
    /usr/bin/python3 -m dbusmock --template "$mock" >/dev/null 2>&1 & pids+=($!)
    until gdbus call --address "$address" -d org.freedesktop.DBus -o /org/freedesktop/DBus -m org.freedesktop.DBus.NameHasOwner \
        org.freedesktop.ModemManager1 2>/dev/null | grep -q true; do sleep 0.05; done
}
mock_call() {
    gdbus call --address "$address" -d org.freedesktop.ModemManager1 -o /org/freedesktop/ModemManager1 -m "org.freedesktop.DBus.Mock.$1" "${@:2}" >/dev/null
}
now_ms() { echo $(( $(date +%s%N) / 1000000 )); }
inbox_count() { sqlite3 "$VELLOQ_DEVICE/messages.db" "SELECT COUNT(*) FROM messages m JOIN folders f ON f.id = m.folder WHERE f.tag = 0x81060102" 2>/dev/null || echo 0; }
wait_for_inbox() { until [ "$(inbox_count)" -ge "$1" ]; do sleep 0.01; done; }
new_device() {
    export VELLOQ_DEVICE="$work/device$1"
    mkdir -p "$VELLOQ_DEVICE"
    "$program/velloq-reg" set 'HKEY_CURRENT_USER\Software\Ketra' Log dword 1 >/dev/null
}
start_service() {
    "$program/velloq-modem" 2>/dev/null & pids+=($!)
    until [ -S "$VELLOQ_DEVICE/velloq-modem.socket" ]; do sleep 0.01; done
}
# CPU time a process used so far, in milliseconds.
cpu_ms() { awk -v hz="$(getconf CLK_TCK)" '{ print int(($14 + $15) * 1000 / hz) }' "/proc/$1/stat"; }
stop_last() { kill "${pids[-1]}"; wait "${pids[-1]}" 2>/dev/null || true; unset 'pids[-1]'; }

echo "velloq-modem receiving from a mock ModemManager ($(nproc) cores)"
start_mock
mock_call AddModem 8

# Pings the service's socket every 20 ms until the file `$2` appears; prints the median and the
# slowest answer in milliseconds.
ping_while() {
    python3 - "$1" "$2" <<'PING'
import os, socket, statistics, sys, time
path, stop = sys.argv[1], sys.argv[2]
took = []
while not os.path.exists(stop):
    begin = time.monotonic()
    with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as client:
        client.settimeout(30)
        client.connect(path)
        client.sendall(b'ping\n')
        answer = b''
        while not answer.endswith(b'\n'):
            answer += client.recv(64)
    took.append((time.monotonic() - begin) * 1000)
    time.sleep(0.02)
print(f'{statistics.median(took):.1f} {max(took):.1f} {len(took)}')
PING
}

new_device 1
mock_call ReceiveMany /org/freedesktop/ModemManager1/Modem/0 1000 0
begin=$(now_ms)
start_service
ping_while "$VELLOQ_DEVICE/velloq-modem.socket" "$work/filed1" > "$work/pings1" &
pinger=$!
wait_for_inbox 1000
elapsed=$(( $(now_ms) - begin ))
touch "$work/filed1"
wait "$pinger"
read -r median slowest count < "$work/pings1"
printf 'waiting at start: 1000 messages filed in %5d ms: %6.0f messages/s; the service used %4d ms of CPU\n' "$elapsed" \
    "$(echo "1000000 / $elapsed" | bc -l)" "$(cpu_ms "${pids[-1]}")"
printf '                  meanwhile %d pings answered: median %s ms, slowest %s ms (goal: under 100 ms)\n' "$count" "$median" "$slowest"
stop_last

new_device 2
start_service
service_cpu=$(cpu_ms "${pids[-1]}")
begin=$(now_ms)
mock_call ReceiveMany /org/freedesktop/ModemManager1/Modem/0 1000 1000
wait_for_inbox 1000
elapsed=$(( $(now_ms) - begin ))
printf 'arriving:         1000 messages filed in %5d ms: %6.0f messages/s; the service used %4d ms of CPU\n' "$elapsed" \
    "$(echo "1000000 / $elapsed" | bc -l)" "$(( $(cpu_ms "${pids[-1]}") - service_cpu ))"

# A running program with its chats loaded; each message's time until the program took it in.
"$program/velloq" >/dev/null 2>&1 & pids+=($!)
log="$VELLOQ_DEVICE/Temp/velloq.txt"
modified() { iconv -f UTF-16LE -t UTF-8 "$log" 2>/dev/null | grep -c ' modify chats time:' || true; }
until [ "$(modified)" -ge 1 ]; do sleep 0.05; done
sleep 1.5
measure() {
    local before took=() index
    for index in $(seq "$runs"); do
        before=$(modified)
        local begin=$(now_ms)
        "$@" "$index"
        until [ "$(modified)" -gt "$before" ]; do sleep 0.005; done
        took+=($(( $(now_ms) - begin )))
        sleep 0.$(( RANDOM % 10 ))
    done
    printf '%s\n' "${took[@]}" | sort -n | awk '{ a[NR] = $1 } END { printf "median %4d ms  max %4d ms", a[int((NR + 1) / 2)], a[NR] }'
}
through_modem() { mock_call Receive /org/freedesktop/ModemManager1/Modem/0 "+4915129$1" "Latency $1" "2026-12-08T10:00:00Z" 3; }
into_store() { "$program/velloq-sms" deliver --from "+4915139$1" "Direct $1" >/dev/null; }
printf 'to the chat, through the modem service: %s\n' "$(measure through_modem)"
printf 'to the chat, delivered into the store:  %s (baseline)\n' "$(measure into_store)"
