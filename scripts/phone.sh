#!/usr/bin/env bash
# A phone in a box: the phone's compositor (phoc) with a portrait screen, a mock ModemManager
# with one modem on a private system bus, the modem service, and Velloq on a device folder, all
# started here and ended together (Ctrl+C). A message delivered through the mock goes the whole
# way a real one does: modem, service, store, chat.
#
#   scripts/phone.sh [--check] [--screen WxH@SCALE]
#
# phoc runs nested: in the desktop's window when there is a desktop (WAYLAND_DISPLAY or DISPLAY),
# otherwise in an X server of its own (Xvfb), which gives it the seat a phone's touch screen and
# keyboard would (a compositor without a seat shows windows, but nobody could use them). Without
# VELLOQ_DEVICE the device is a demo made for the run.
# --check delivers one message through the modem, waits for its chat, writes the compositor's
# frame (grim) and the program's own (VELLOQ_SNAPSHOT) and ends; without it, the script waits.
set -euo pipefail
cd "$(dirname "$0")/.."

check=false
screen=720x1440@2
while [ $# -gt 0 ]; do
    case "$1" in
    --check) check=true ;;
    --screen) screen=$2; shift ;;
    *) echo "usage: scripts/phone.sh [--check] [--screen WxH@SCALE]" >&2; exit 2 ;;
    esac
    shift
done
[[ "$screen" =~ ^([0-9]+)x([0-9]+)@([0-9]+)$ ]] || { echo "phone.sh: --screen is WxH@SCALE, for example 720x1440@2" >&2; exit 2; }
mode="${BASH_REMATCH[1]}x${BASH_REMATCH[2]}"
scale=${BASH_REMATCH[3]}

scripts/bootstrap.sh
build=build/release
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELLOQ_BENCHMARKS=OFF >/dev/null
cmake --build "$build" --parallel 2 --target velloq_program_folder
bin=$(realpath "$build/bin")
mock=$(realpath tests/fixtures/modem/mock_modemmanager.py)

work=$(mktemp -d "${TMPDIR:-/tmp}/velloq-phone.XXXXXX")
pids=()
cleanup() {
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work/runtime"
}
trap cleanup EXIT
trap 'exit 0' INT TERM
wait_for() { local tries=0; until eval "$1"; do sleep 0.05; tries=$((tries + 1)); [ $tries -lt 600 ] || { echo "phone.sh: gave up waiting for: $2" >&2; exit 1; }; done; }

# The device.
if [ -z "${VELLOQ_DEVICE:-}" ]; then
    export VELLOQ_DEVICE="$work/device"
    mkdir -p "$VELLOQ_DEVICE"
    "$bin/velloq-sms" seed --chats 12 --messages 120 --seed 7 --contacts 10 >/dev/null
fi
"$bin/velloq-reg" set 'HKEY_CURRENT_USER\Software\Ketra' Log dword 1 >/dev/null
log="$VELLOQ_DEVICE/Temp/velloq.txt"

# The modem: a mock ModemManager on a system bus of the box's own, and the modem service on it.
bus="unix:path=$work/system_bus"
export DBUS_SYSTEM_BUS_ADDRESS=$bus
dbus-daemon --session --nofork --nopidfile --address="$bus" 2>/dev/null & pids+=($!)
wait_for '[ -S "$work/system_bus" ]' "the system bus"
/usr/bin/python3 -m dbusmock --template "$mock" >/dev/null 2>&1 & pids+=($!)
mock_call() { gdbus call --address "$bus" -d org.freedesktop.ModemManager1 -o /org/freedesktop/ModemManager1 -m "org.freedesktop.DBus.Mock.$1" "${@:2}"; }
wait_for 'mock_call GetSent >/dev/null 2>&1' "the mock ModemManager"
mock_call AddModem 8 >/dev/null
"$bin/velloq-modem" 2>"$work/velloq-modem.log" & pids+=($!)
wait_for '[ -S "$VELLOQ_DEVICE/velloq-modem.socket" ]' "the modem service"

# A session bus of the box's own where there is none, so nothing starts one that outlives it.
if [ -z "${DBUS_SESSION_BUS_ADDRESS:-}" ]; then
    export DBUS_SESSION_BUS_ADDRESS="unix:path=$work/session_bus"
    dbus-daemon --session --nofork --nopidfile --address="$DBUS_SESSION_BUS_ADDRESS" 2>/dev/null & pids+=($!)
    wait_for '[ -S "$work/session_bus" ]' "the session bus"
fi

# The compositor, nested where it can be seen, with the phone's screen as its one output.
runtime="$work/runtime"
mkdir -m 700 "$runtime"
if [ -n "${WAYLAND_DISPLAY:-}" ]; then
    backend=wayland output=WL-1
elif [ -n "${DISPLAY:-}" ]; then
    backend=x11 output=X11-1
else
    backend=x11 output=X11-1
    for number in $(seq 150 199); do
        [ -e "/tmp/.X$number-lock" ] && continue
        Xvfb ":$number" -screen 0 1600x1600x24 -nolisten tcp >/dev/null 2>&1 & pids+=($!)
        export DISPLAY=":$number"
        break
    done
    wait_for '[ -S "/tmp/.X11-unix/X${DISPLAY#:}" ]' "the X server $DISPLAY"
fi
printf '[output:%s]\nmode = %s\nscale = %s\n' "$output" "$mode" "$scale" > "$work/phoc.ini"
XDG_RUNTIME_DIR=$runtime WLR_BACKENDS=$backend WLR_RENDERER=pixman phoc -C "$work/phoc.ini" >"$work/phoc.log" 2>&1 & pids+=($!)
wait_for '[ -S "$runtime/wayland-0" ]' "phoc"

# Velloq on it, as a phone starts it.
XDG_RUNTIME_DIR=$runtime WAYLAND_DISPLAY=wayland-0 SDL_VIDEODRIVER= VELLOQ_SNAPSHOT="$work/snapshot.png" \
    "$bin/velloq" >"$work/velloq.out" 2>&1 & pids+=($!)
velloq=${pids[-1]}
wait_for 'iconv -f UTF-16LE -t UTF-8 "$log" 2>/dev/null | grep -q "chat list on screen:"' "the chat list"

# Helpers for the one at the keyboard.
cat > "$work/incoming" <<EOF
#!/bin/sh
# incoming NUMBER TEXT: a message arrives at the phone's modem.
exec gdbus call --address "$bus" -d org.freedesktop.ModemManager1 -o /org/freedesktop/ModemManager1 \\
    -m org.freedesktop.DBus.Mock.Receive /org/freedesktop/ModemManager1/Modem/0 "\$1" "\$2" "\$(date -u +%Y-%m-%dT%H:%M:%SZ)" 3 >/dev/null
EOF
cat > "$work/frame" <<EOF
#!/bin/sh
# frame FILE.png: the phone's screen as the compositor shows it; the program's own frame goes to
# $work/snapshot.png on: kill -USR1 $velloq
exec env XDG_RUNTIME_DIR="$runtime" WAYLAND_DISPLAY=wayland-0 grim "\$1"
EOF
chmod +x "$work/incoming" "$work/frame"

if $check; then
    before=$(iconv -f UTF-16LE -t UTF-8 "$log" | grep -c ' modify chats time:' || true)
    "$work/incoming" +4915123456789 "Hello from the phone in a box"
    wait_for '[ "$(iconv -f UTF-16LE -t UTF-8 "$log" | grep -c " modify chats time:" || true)" -gt "$before" ]' "the message's chat"
    "$work/frame" "$work/frame.png"
    kill -USR1 "$velloq"
    wait_for '[ -s "$work/snapshot.png" ]' "the program's snapshot"
    echo "phone.sh: the message reached its chat; frames: $work/frame.png (compositor), $work/snapshot.png (program)"
    exit 0
fi

cat <<EOF
A phone in a box is running (phoc $mode at scale $scale, $backend backend; device $VELLOQ_DEVICE).
  A message arrives at the modem:  $work/incoming +4915123456789 "Hello"
  Into the store directly:         VELLOQ_DEVICE=$VELLOQ_DEVICE $bin/velloq-sms deliver --from +4915123456789 "Hello"
  The screen as a picture:         $work/frame screen.png
  What was sent through the modem: gdbus call --address $bus -d org.freedesktop.ModemManager1 -o /org/freedesktop/ModemManager1 -m org.freedesktop.DBus.Mock.GetSent
  Logs: $log, $work/velloq-modem.log, $work/phoc.log
Ctrl+C ends it all.
EOF
wait "$velloq" || true
