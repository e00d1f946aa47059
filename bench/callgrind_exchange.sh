#!/usr/bin/env bash
# Instructions the storeserver of a given build executes per aid-account
# exchange and per health check: a figure that does not depend on the
# machine's load. The server runs under callgrind on a scratch demo store; one
# keep-alive client (curl) sends WARMUP requests, the counters are zeroed, then
# COUNT requests are sent and the counters dumped. The dump's total, every
# thread of the server process included (network threads, workers, the log),
# divided by COUNT is the figure. Every answer is checked; a wrong one fails.
# The demo store is seeded and the clerk logged in by the server run plainly
# first (password hashing under callgrind would take minutes); the token is
# kept in the database and serves the server under callgrind.
#
#   bench/callgrind_exchange.sh [--build DIR] [--count N] [--warmup N] [-- SERVER OPTION...]
#
# DIR defaults to build. A build with symbols (RelWithDebInfo) gives the same
# counts as Release and lets callgrind_annotate name the functions: the dumps
# are kept in DIR (callgrind.out.aid, callgrind.out.health) when --keep DIR is given.
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/store_server.sh

callgrind_options callgrind_exchange.sh 2000 200 "$@"

# count NAME LABEL PATH BODY_FILE EXPECT_FILE: prints the instructions per
# request of COUNT requests to PATH (a POST of BODY_FILE, or a GET for "").
count() {
  local name=$1 label=$2 path=$3 body=$4 expect=$5 total
  send "$warmup" "http://$server_address$path" "$body" >/dev/null
  total=$(counted_instructions "$name" "$dir" "$keep" send "$count" "http://$server_address$path" "$body")
  for _ in $(seq "$count"); do cat "$expect"; done | cmp -s - "$dir/$name.answers" ||
    { echo "$label: an answer was not the expected one: $(head -c 300 "$dir/$name.answers")" >&2; return 1; }
  per_request_row "$label" "$count" "$total"
}

start_store_server "$build" "$dir" ${server_options[@]+"${server_options[@]}"}
token=$(log_in "$server_address" clerk clerk1)
stop_store_server
start_store_server "$dir/bin" "$dir" ${server_options[@]+"${server_options[@]}"}
expect_aid_answer "$dir" "$token"
send 1 "http://$server_address/v1/health" >"$dir/health.expect"
[ "$(cat "$dir/health.expect")" = '{"status":"ok"}' ] || { echo "the health check answered: $(cat "$dir/health.expect")" >&2; exit 1; }

echo "storeserver: $build/server/storeserver ${server_options[*]+${server_options[*]}} under callgrind (demo store, SQLite), one keep-alive curl client"
echo "$warmup requests of each kind before counting; all threads of the server counted"
printf '\n| request | requests counted | instructions | per request |\n|---|---|---|---|\n'
count aid "aid-account exchange" /v1/exchange "$dir/aid.body" "$dir/aid.expect"
count health "health check" /v1/health "" "$dir/health.expect"
