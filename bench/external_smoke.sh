#!/usr/bin/env bash
# A short ticket_bench run against a storeserver process of its own on a
# scratch demo store, through --server and --database, twice on the same
# database. Fails on any failed update; checks no speed.
#   bench/external_smoke.sh STORESERVER TICKET_BENCH
set -euo pipefail
server=$1 bench=$2
dir=$(mktemp -d "${TMPDIR:-/tmp}/external-smoke-XXXXXX")
: >"$dir/server.log"
"$server" --database "$dir/store.db" --demo --port 0 >>"$dir/server.log" 2>&1 &
pid=$!
trap 'kill $pid; wait $pid || true; rm -rf "$dir"' EXIT
until address=$(sed -n 's/^storeserver listening on //p' "$dir/server.log") && [ -n "$address" ]; do
  kill -0 $pid 2>/dev/null || { cat "$dir/server.log" >&2; exit 1; }
  sleep 0.05
done
for run in 1 2; do
  "$bench" --server "http://$address" --database "$dir/store.db" --handhelds 2 --seconds 0.2
done
