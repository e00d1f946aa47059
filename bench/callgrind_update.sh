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

# exchange TOKEN PACKET TEXT: an exchange of one query or update, TEXT already JSON-escaped.
exchange() {
  printf '{"app":0,"token":"%s","queries":[{"packet":%s,"text":"%s","page":-1}]}' "$1" "$2" "$3"
}

# curl_config FIRST LAST: a curl configuration that adds, changes and deletes
# lines FIRST to LAST of the ticket, each update with an identity of its own.
curl_config() {
  local line packet qty separator=
  for line in $(seq "$1" "$2"); do
    for packet in 0 2 1; do
      qty=$((packet == 0 ? 1 : 2))
      echo $separator
      separator=next
      echo "url = \"http://$server_address/v1/exchange\""
      echo 'header = "Content-Type: application/json"'
      printf 'data = "%s"\n' "$(exchange "$token" "$packet" "$(printf '{\\"request\\":\\"sl_item\\",\\"update_id\\":\\"00000000-0000-4000-8000-%012d\\",\\"receipt\\":\\"%s\\",\\"line\\":%d,\\"purchaser\\":\\"Ostrand Company\\",\\"session\\":1002,\\"item_id\\":\\"B0000000\\",\\"qty\\":%d,\\"price\\":\\"12.50\\"}' \
        "$((line * 3 + packet))" "$receipt" "$line" "$qty")" | sed 's/[\\"]/\\&/g')"
    done
  done
}

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
opened=$(curl -sS -H 'Content-Type: application/json' -d "$(exchange "$token" 3 \
  '{\"request\":\"sl_ticket\",\"user\":\"buyer\",\"student_id\":\"S100200\",\"store\":1}')" \
  "http://$server_address/v1/exchange")
receipt=$(sed -n 's/.*"text":"RCT[0-9]\{5\}\([0-9A-Z]*\).*/\1/p' <<<"$opened")
[ -n "$receipt" ] || { echo "opening a ticket answered: $opened" >&2; exit 1; }
stop_store_server
start_store_server "$dir/bin" "$dir" ${server_options[@]+"${server_options[@]}"}

curl_config 1 "$warmup" >"$dir/warmup.config"
curl_config "$((warmup + 1))" "$((warmup + count))" >"$dir/update.config"
updates "$dir/warmup.config" >"$dir/warmup.answers"
check_done "$dir/warmup.answers" "$warmup"
total=$(counted_instructions update "$dir" "$keep" updates "$dir/update.config")
check_done "$dir/update.answers" "$count"

echo "storeserver: $build/server/storeserver ${server_options[*]+${server_options[*]}} under callgrind (demo store, SQLite), one keep-alive curl client"
echo "$warmup lines (added, changed, deleted) before counting; all threads of the server counted"
printf '\n| request | requests counted | instructions | per request |\n|---|---|---|---|\n'
per_request_row "ticket update (add, change, delete in turn)" "$((3 * count))" "$total"
