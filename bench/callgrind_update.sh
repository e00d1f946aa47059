#!/usr/bin/env bash
# Instructions the storeserver of a given build executes per ticket update on
# SQLite (durable, synchronous=FULL): a figure that does not depend on the
# machine's load. As callgrind_exchange.sh: the demo store is seeded, the
# buyer logged in and a ticket opened by the server run plainly; it is then run
# under callgrind on the same database. One keep-alive client (curl) sends the
# updates one after another, each line of the ticket added (quantity 1),
# changed (quantity 2) and deleted, as three updates; the counters are zeroed
# after WARMUP lines and dumped after COUNT more. Every answer must be "done".
#
#   bench/callgrind_update.sh [--build DIR] [--count N] [--warmup N] [--keep DIR] [-- SERVER OPTION...]
#
# The book is one its purchaser buys without limit, and a line deleted frees
# its copies, so no update is refused however many are sent.
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/store_server.sh

callgrind_options callgrind_update.sh 500 50 "$@"

# updates CONFIG: sends the updates of a curl configuration; prints the answers.
updates() { curl -sS -K "$1" || true; }

# check_done FILE LINES: fails unless FILE holds "done" for each update of LINES lines.
check_done() {
  local done_answer='{"replies":[{"error":false,"text":"","page":0,"page_count":-1}]}' expected
  expected=$(for _ in $(seq $((3 * $2))); do printf '%s' "$done_answer"; done)
  [ "$(cat "$1")" = "$expected" ] || { echo "an update was not done: $(head -c 300 "$1")" >&2; return 1; }
}

start_store_server "$build" "$dir" ${server_options[@]+"${server_options[@]}"}
token=$(log_in "$server_address" buyer buyer1 0)
receipt=$(open_ticket "$server_address" "$token")
stop_store_server
start_store_server "$dir/bin" "$dir" ${server_options[@]+"${server_options[@]}"}

line_updates "$server_address" "$token" "$receipt" 1 "$warmup" >"$dir/warmup.config"
line_updates "$server_address" "$token" "$receipt" "$((warmup + 1))" "$((warmup + count))" >"$dir/update.config"
updates "$dir/warmup.config" >"$dir/warmup.answers"
check_done "$dir/warmup.answers" "$warmup"
total=$(counted_instructions update "$dir" "$keep" updates "$dir/update.config")
check_done "$dir/update.answers" "$count"

echo "storeserver: $build/server/storeserver ${server_options[*]+${server_options[*]}} under callgrind (demo store, SQLite), one keep-alive curl client"
echo "$warmup lines (added, changed, deleted) before counting; all threads of the server counted"
printf '\n| request | requests counted | instructions | per request |\n|---|---|---|---|\n'
per_request_row "ticket update (add, change, delete in turn)" "$((3 * count))" "$total"
