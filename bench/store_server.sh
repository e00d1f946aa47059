# Sourced by the benchmark scripts: a storeserver of a given build on a scratch
# demo store, a clerk's token, and the aid-account exchange the handhelds send.
# Needs curl.
#
# One keep-alive connection for many requests is curl with a config file of
# many URLs: it keeps the connection between them.

# need_build_and_tools BUILD TOOL...: fails unless BUILD holds a storeserver;
# installs the benchmark packages when a tool is missing.
need_build_and_tools() {
  [ -x "$1/server/storeserver" ] || { echo "no storeserver in $1 (cmake --build $1 --target storeserver)" >&2; return 2; }
  shift
  for tool in "$@"; do command -v "$tool" >/dev/null || { bash scripts/setup-deps.sh bench; return; }; done
}

# start_store_server BUILD DIR [OPTION...]: starts BUILD's storeserver on a demo
# store in DIR (or on store_database when set); sets server_pid and
# server_address (127.0.0.1:PORT).
start_store_server() {
  local build=$1 dir=$2
  shift 2
  : >"$dir/server.log"
  "$build/server/storeserver" --database "${store_database:-$dir/store.db}" --demo --port 0 "$@" \
    >>"$dir/server.log" 2>&1 &
  server_pid=$!
  server_address=
  until server_address=$(sed -n 's/^storeserver listening on //p' "$dir/server.log") && [ -n "$server_address" ]; do
    kill -0 "$server_pid" 2>/dev/null || { cat "$dir/server.log" >&2; return 1; }
    sleep 0.05
  done
}

stop_store_server() {
  [ -z "${server_pid:-}" ] || { kill "$server_pid" 2>/dev/null; wait "$server_pid" 2>/dev/null || true; }
  server_pid=
}

# log_in ADDRESS USER PASSWORD [APP]: prints the session token of APP (2, Stipendo,
# by default); fails on a refusal.
log_in() {
  local answer
  answer=$(curl -sS --fail-with-body -H 'Content-Type: application/json' \
    -d "{\"app\":${4:-2},\"user\":\"$2\",\"password\":\"$3\"}" "http://$1/v1/login") ||
    { echo "log-in as $2 refused: $answer" >&2; return 1; }
  sed -n 's/.*"token":"\([^"]*\)".*/\1/p' <<<"$answer"
}

# aid_exchange TOKEN: the body of Stipendo's lookup of student S100200's aid account.
aid_exchange() {
  printf '{"app":2,"token":"%s","queries":[{"packet":3,"text":"{\\"request\\":\\"aid_accounts\\",\\"student_id\\":\\"S100200\\"}","page":-1}]}' "$1"
}

# expect_aid_answer DIR TOKEN: writes the exchange to DIR/aid.body and its
# answer to DIR/aid.expect; fails unless that answer holds S100200's one
# aid-account record.
expect_aid_answer() {
  aid_exchange "$2" >"$1/aid.body"
  send 1 "http://$server_address/v1/exchange" "$1/aid.body" >"$1/aid.expect"
  local answer
  answer=$(cat "$1/aid.expect")
  [[ $answer == '{"replies":[{'*'"error":false'* && $answer == *'"text":"AID'?????'S100200 '* && $answer != *AID*AID* ]] ||
    { echo "the aid-account exchange answered: $answer" >&2; return 1; }
}

# exchange TOKEN PACKET TEXT: an exchange of one query or update, TEXT already JSON-escaped.
exchange() {
  printf '{"app":0,"token":"%s","queries":[{"packet":%s,"text":"%s","page":-1}]}' "$1" "$2" "$3"
}

# open_ticket ADDRESS TOKEN: opens a ticket for student S100200 on a buyer's
# Sellin log-in; prints its receipt, or fails.
open_ticket() {
  local opened receipt
  opened=$(curl -sS -H 'Content-Type: application/json' -d "$(exchange "$2" 3 \
    '{\"request\":\"sl_ticket\",\"user\":\"buyer\",\"student_id\":\"S100200\",\"store\":1}')" \
    "http://$1/v1/exchange")
  receipt=$(sed -n 's/.*"text":"RCT[0-9]\{5\}\([0-9A-Z]*\).*/\1/p' <<<"$opened")
  [ -n "$receipt" ] || { echo "opening a ticket answered: $opened" >&2; return 1; }
  echo "$receipt"
}

# line_updates ADDRESS TOKEN RECEIPT FIRST LAST [CONFIG LINE...]: a curl
# configuration that adds (quantity 1), changes (quantity 2) and deletes lines
# FIRST to LAST of the ticket, as Sellin sends them, each update with an
# identity of its own and the curl config lines given. The book is one its
# purchaser buys without limit, and a line deleted frees its copies, so no
# update is refused however many are sent.
line_updates() {
  local address=$1 token=$2 receipt=$3 first=$4 last=$5 line packet qty separator=
  shift 5
  for line in $(seq "$first" "$last"); do
    for packet in 0 2 1; do
      qty=$((packet == 0 ? 1 : 2))
      echo $separator
      separator=next
      echo "url = \"http://$address/v1/exchange\""
      echo 'header = "Content-Type: application/json"'
      printf 'data = "%s"\n' "$(exchange "$token" "$packet" "$(printf '{\\"request\\":\\"sl_item\\",\\"update_id\\":\\"00000000-0000-4000-8000-%012d\\",\\"receipt\\":\\"%s\\",\\"line\\":%d,\\"purchaser\\":\\"Ostrand Company\\",\\"session\\":1002,\\"item_id\\":\\"B0000000\\",\\"qty\\":%d,\\"price\\":\\"12.50\\"}' \
        "$((line * 3 + packet))" "$receipt" "$line" "$qty")" | sed 's/[\\"]/\\&/g')"
      [ $# -eq 0 ] || printf '%s\n' "$@"
    done
  done
}

# send N URL [BODY_FILE [CONFIG LINE...]]: N requests to URL on one
# connection, a POST of BODY_FILE or a GET for "", each with the curl config
# lines given; prints the answers one after another. With send_time_limit set,
# curl is stopped after that many seconds.
send() {
  local n=$1 url=$2 body=${3:-} config
  shift 3 || shift $#
  config=$(mktemp "${TMPDIR:-/tmp}/curl-config-XXXXXX")
  for i in $(seq "$n"); do
    [ "$i" -eq 1 ] || echo next
    echo "url = \"$url\""
    [ -z "$body" ] || printf 'header = "Content-Type: application/json"\ndata-binary = "@%s"\n' "$body"
    [ $# -eq 0 ] || printf '%s\n' "$@"
  done >"$config"
  ${send_time_limit:+timeout "$send_time_limit"} curl -sS -K "$config" || true
  rm -f "$config"
}

# callgrind_options SCRIPT COUNT WARMUP ARGUMENT...: reads the options the
# callgrind scripts share into build, count, warmup and keep (COUNT and WARMUP
# the defaults), and what follows "--" into server_options; then makes a
# scratch directory, dir, removed at exit with the server stopped, and a
# storeserver under callgrind in it.
callgrind_options() {
  local script=$1
  build=build count=$2 warmup=$3 keep= server_options=()
  shift 3
  while [ $# -gt 0 ]; do
    case $1 in
      --build) build=$2; shift 2 ;;
      --count) count=$2; shift 2 ;;
      --warmup) warmup=$2; shift 2 ;;
      --keep) keep=$2; shift 2 ;;
      --) shift; server_options=("$@"); break ;;
      *) echo "usage: bench/$script [--build DIR] [--count N] [--warmup N] [--keep DIR] [-- SERVER OPTION...]" >&2
         exit 2 ;;
    esac
  done
  need_build_and_tools "$build" valgrind curl
  dir=$(mktemp -d "${TMPDIR:-/tmp}/${script%.sh}-XXXXXX")
  trap 'stop_store_server; rm -rf "$dir"' EXIT
  under_callgrind "$build" "$dir"
  [ -z "$keep" ] || mkdir -p "$keep"
}

# under_callgrind BUILD DIR: makes DIR/bin/server/storeserver, BUILD's
# storeserver run under callgrind with its dumps in DIR, for start_store_server.
under_callgrind() {
  local build=$1 dir=$2
  case $build in /*) ;; *) build=$PWD/$build ;; esac
  mkdir -p "$dir/bin/server"
  cat >"$dir/bin/server/storeserver" <<WRAP
#!/bin/sh
exec valgrind --tool=callgrind --collect-atstart=yes --callgrind-out-file="$dir/callgrind.out.%p" "$build/server/storeserver" "\$@"
WRAP
  chmod +x "$dir/bin/server/storeserver"
}

# counted_instructions NAME DIR KEEP COMMAND...: runs COMMAND, its output to
# DIR/NAME.answers, with the counters of the storeserver under callgrind zeroed
# before and dumped as NAME after; prints the instructions of every thread of
# the server in between. The dump is copied to KEEP/callgrind.out.NAME when
# KEEP is not empty.
counted_instructions() {
  local name=$1 dir=$2 keep=$3 dump
  shift 3
  callgrind_control -z "$server_pid" >/dev/null 2>&1
  "$@" >"$dir/$name.answers"
  callgrind_control -d "$name" "$server_pid" >/dev/null 2>&1
  dump=$(ls -t "$dir"/callgrind.out.* | head -1)
  [ -z "$keep" ] || cp "$dump" "$keep/callgrind.out.$name"
  sed -n 's/^summary: *\([0-9]*\).*/\1/p; s/^totals: *\([0-9]*\).*/\1/p' "$dump" | head -1
}

# per_request_row LABEL COUNT TOTAL: a row of the table the callgrind scripts print.
per_request_row() {
  printf '| %s | %s | %s | %.0f |\n' "$1" "$2" "$3" "$(awk -v t="$3" -v n="$2" 'BEGIN { print t / n }')"
}
