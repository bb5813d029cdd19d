#!/usr/bin/env bash
# Installs what is missing, builds the program folder and starts the program. Without
# VELLOQ_DEVICE it runs on a demo phone of its own, made on first use: a few hundred messages in
# about thirty chats, vCards naming most of them, and the log on.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/bootstrap.sh
build=build/release
# The same build folder as the test command's Release build: only the program folder is built here.
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELLOQ_BENCHMARKS=OFF >/dev/null
cmake --build "$build" --parallel 2 --target velloq_program_folder
bin="$build/bin"

if [ -z "${VELLOQ_DEVICE:-}" ]; then
  export VELLOQ_DEVICE="${XDG_DATA_HOME:-$HOME/.local/share}/velloq-demo"
  # A demo made before the choice of modem existed gets the loopback too.
  if [ -e "$VELLOQ_DEVICE/messages.db" ] && ! "$bin/velloq-reg" get 'HKEY_CURRENT_USER\Software\Ketra\Velloq' Modem >/dev/null 2>&1; then
    "$bin/velloq-reg" set 'HKEY_CURRENT_USER\Software\Ketra\Velloq' Modem sz loopback
  fi
  if [ ! -e "$VELLOQ_DEVICE/messages.db" ]; then
    mkdir -p "$VELLOQ_DEVICE"
    "$bin/velloq-sms" seed --chats 30 --messages 400 --seed 7 --contacts 24
    "$bin/velloq-reg" set 'HKEY_CURRENT_USER\Software\Ketra' Log dword 1
    # The demo phone has no radio: its messages go out through the loopback modem.
    "$bin/velloq-reg" set 'HKEY_CURRENT_USER\Software\Ketra\Velloq' Modem sz loopback
    echo "demo device made in $VELLOQ_DEVICE"
  fi
fi
echo "device folder: $VELLOQ_DEVICE (log: $VELLOQ_DEVICE/Temp/velloq.txt)"

# Where the session has Evolution Data Server (GNOME, Phosh), its address books are the phone's
# contacts: the bridge runs beside the program (an installed one runs as a user service instead,
# and this one then ends at once).
eds=org.gnome.evolution.dataserver.Sources5
bridge=
if timeout 5 gdbus call --session -d org.freedesktop.DBus -o /org/freedesktop/DBus -m org.freedesktop.DBus.ListActivatableNames 2>/dev/null | grep -q "$eds" \
    || timeout 5 gdbus call --session -d org.freedesktop.DBus -o /org/freedesktop/DBus -m org.freedesktop.DBus.NameHasOwner "$eds" 2>/dev/null | grep -q true; then
  "$bin/velloq-contacts" & bridge=$!
  echo "contacts: Evolution Data Server's address books (velloq-contacts)"
fi
status=0
"$bin/velloq" "$@" || status=$?
[ -n "$bridge" ] && kill "$bridge" 2>/dev/null
exit $status
