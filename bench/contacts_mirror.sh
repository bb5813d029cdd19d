#!/usr/bin/env bash
# The contacts service's first mirror of a large address book: Evolution Data Server on a private
# session bus with 20,000 contacts in its personal book, and the time from the service's start to
# its "is mirrored" line with every file in place; then the program's contacts step on those
# files, against reading the files' bytes alone in the same run (the contacts bench's
# BM_ReadTwentyThousandMirroredContacts holds the step against 100,000 cards).
#
#   bench/contacts_mirror.sh [PROGRAM_FOLDER]      (default build/bench/bin)
set -euo pipefail
cd "$(dirname "$0")/.."
program=$(realpath "${1:-build/bench/bin}")
script=$(realpath tests/fixtures/contacts/eds_contacts.py)
count=${COUNT:-20000}
work=$(mktemp -d)
pids=()
cleanup() { for pid in "${pids[@]}"; do kill -9 "$pid" 2>/dev/null || true; done; wait 2>/dev/null || true; rm -rf "$work"; }
trap cleanup EXIT

home="$work/home"
mkdir -p "$home"/{config,data,cache,runtime}
chmod 700 "$home/runtime"
export HOME="$home" XDG_CONFIG_HOME="$home/config" XDG_DATA_HOME="$home/data" XDG_CACHE_HOME="$home/cache" XDG_RUNTIME_DIR="$home/runtime"
export GSETTINGS_BACKEND=memory DBUS_SESSION_BUS_ADDRESS="unix:path=$work/bus"
cat >"$work/bus.conf" <<CONF
<busconfig><type>session</type><listen>unix:path=$work/bus</listen><auth>EXTERNAL</auth>
<policy context="default"><allow send_destination="*" eavesdrop="true"/><allow eavesdrop="true"/><allow own="*"/></policy></busconfig>
CONF
dbus-daemon --config-file="$work/bus.conf" --nofork --nopidfile >/dev/null 2>&1 & pids+=($!)
until [ -S "$work/bus" ]; do sleep 0.05; done
owned() { gdbus call --session -d org.freedesktop.DBus -o /org/freedesktop/DBus -m org.freedesktop.DBus.NameHasOwner "$1" 2>/dev/null | grep -q true; }
/usr/libexec/evolution-source-registry >/dev/null 2>&1 & pids+=($!)
until owned org.gnome.evolution.dataserver.Sources5; do sleep 0.05; done
/usr/libexec/evolution-addressbook-factory -r >/dev/null 2>&1 & pids+=($!)
until owned org.gnome.evolution.dataserver.AddressBook10; do sleep 0.05; done

fill_started=$(date +%s%N)
/usr/bin/python3 "$script" fill system "$count"
echo "filled the personal book with $count contacts in $(( ($(date +%s%N) - fill_started) / 1000000 )) ms"

export VELLOQ_DEVICE="$work/device"
mkdir -p "$VELLOQ_DEVICE"
started=$(date +%s%N)
"$program/velloq-contacts" 2>"$work/service.log" & service=$!; pids+=($service)
until grep -q "is mirrored: $count contacts" "$work/service.log" 2>/dev/null; do
    kill -0 "$service" 2>/dev/null || { cat "$work/service.log"; exit 1; }
    sleep 0.02
done
mirror_ms=$(( ($(date +%s%N) - started) / 1000000 ))
files=$(find "$VELLOQ_DEVICE/contacts" -name 'eds-*.vcf' | wc -l)
echo "first mirror: $count contacts, $files files, ${mirror_ms} ms (goal: under 5000 ms)"
kill "$service"; wait "$service" 2>/dev/null || true

plain_started=$(date +%s%N)
cat "$VELLOQ_DEVICE"/contacts/*.vcf >/dev/null
plain_ms=$(( ($(date +%s%N) - plain_started) / 1000000 ))
listed_started=$(date +%s%N)
"$program/velloq-chats" >/dev/null
chats_ms=$(( ($(date +%s%N) - listed_started) / 1000000 ))
echo "velloq-chats with those contacts: ${chats_ms} ms; reading the files' bytes alone (cat): ${plain_ms} ms"
