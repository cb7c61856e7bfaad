#!/usr/bin/env bash
# Writes what vopal-scan makes of the whole test LAN into DIR, so that the
# outputs of two builds can be compared byte for byte: the thread engine's
# CSV, the event-driven engine's JSON Lines, two recorded scans with their
# changes (text and JSON) and the SQLite inventory's dump.
#
#   bench/outputs.sh DIR
#
# Times differ from run to run: the scans' start and end in the dump, the
# first-seen dates of the changes and the store's random identity. Needs
# root: it brings the test LAN up and down, holding its lock like the LAN
# tests do.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "${1:-}" != --inside ]; then
  [ $# -eq 1 ] || { echo "usage: $0 DIR" >&2; exit 2; }
  [ "$(id -u)" -eq 0 ] || { echo "outputs: needs root (network namespaces)" >&2; exit 1; }
  [ -x build/vopal-scan ] || scripts/build
  mkdir -p "$1"
  exec tests/lan/run-in-testlan.sh "$PWD/bench/outputs.sh" --inside "$(cd "$1" && pwd)"
fi
dir=$2
range=198.18.0.0/24

build/vopal-scan --engine threads --keep-silent "$range" >"$dir/threads.csv"
build/vopal-scan --format json --keep-silent "$range" >"$dir/fast.json"
rm -f "$dir/inventory.db"
build/vopal-scan --db "$dir/inventory.db" --changes "$range" >"$dir/changes.txt"
build/vopal-scan --db "$dir/inventory.db" --changes --format json "$range" >"$dir/changes.json"
sqlite3 "$dir/inventory.db" .dump >"$dir/inventory.sql"
echo "outputs: $(ls "$dir" | tr '\n' ' ')"
