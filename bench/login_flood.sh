#!/usr/bin/env bash
# A handheld's aid-account exchanges while log-ins with unknown user names
# flood the server: wrk keeps FLOOD log-ins in flight (each a new name) against
# the storeserver of the build given, on a scratch demo store at its own
# password cost; after a second of flood, one handheld (curl, one keep-alive
# connection, a clerk's token taken before) sends S100200's lookup EXCHANGES
# times, one after another, each given up after 15 s as a handheld does. The
# flood stops when the handheld is done. Prints the handheld's p50, p99 and max
# over every exchange, the flood's answers by status, and the server's peak
# memory (VmHWM) before the flood and after.
#
# Fails when any exchange was wrong, failed or not answered within 15 s, or
# the flood got an answer other than 401 (refused), 429 (too many failed
# log-ins) or 503 (busy).
#
#   bench/login_flood.sh [--build DIR] [--exchanges N] [--flood N] [--limit S] [-- SERVER OPTION...]
#
# Exchanges not answered within S seconds (120) of the handheld's start count as failed.
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/store_server.sh

build=build exchanges=500 flood=200 limit=120
while [ $# -gt 0 ]; do
  case $1 in
    --build) build=$2; shift 2 ;;
    --exchanges) exchanges=$2; shift 2 ;;
    --flood) flood=$2; shift 2 ;;
    --limit) limit=$2; shift 2 ;;
    --) shift; break ;;
    *) echo "usage: bench/login_flood.sh [--build DIR] [--exchanges N] [--flood N] [--limit S] [-- SERVER OPTION...]" >&2
       exit 2 ;;
  esac
done
need_build_and_tools "$build" wrk curl

dir=$(mktemp -d "${TMPDIR:-/tmp}/login-flood-XXXXXX")
flood_pid=
trap '[ -z "$flood_pid" ] || kill "$flood_pid" 2>/dev/null; stop_store_server; rm -rf "$dir"' EXIT

peak_memory() { sed -n 's/^VmHWM: *//p' "/proc/$server_pid/status"; }

start_store_server "$build" "$dir" "$@"
token=$(log_in "$server_address" clerk clerk1)
expect_aid_answer "$dir" "$token"
memory_before=$(peak_memory)

echo "storeserver: $build/server/storeserver $* at $server_address (demo store, SQLite)"
echo "flood:       $flood log-ins in flight, unknown names; handheld: $exchanges exchanges on one connection"
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
wrk -t "$(( flood < 2 ? flood : 2 ))" -c "$flood" -d 1h --timeout 30s -s bench/login_flood.lua "http://$server_address/v1/login" >"$dir/flood" 2>&1 &
flood_pid=$!
sleep 1
# Each answer, then its status and seconds on a line of their own.
send_time_limit=$limit send "$exchanges" "http://$server_address/v1/exchange" "$dir/aid.body" 'max-time = 15' \
  'write-out = "\n%{http_code} %{time_total}\n"' >"$dir/handheld"
# wrk prints its counts when interrupted.
kill -INT "$flood_pid" 2>/dev/null || true
wait "$flood_pid" || true
flood_pid=
memory_after=$(peak_memory)

# The expected answer goes through the environment: awk -v would read its "\r" as an escape.
export EXPECTED_ANSWER
EXPECTED_ANSWER=$(cat "$dir/aid.expect")
answered=$(awk 'NR % 2 == 1 { body = $0 } NR % 2 == 0 && $1 == 200 && body == ENVIRON["EXPECTED_ANSWER"]' \
  "$dir/handheld" | wc -l)
failed=$((exchanges - answered))
unexpected=$(sed -n 's/^unexpected: //p' "$dir/flood")
ms() { awk 'NR % 2 == 0 { print $2 * 1000 }' "$dir/handheld" | sort -n |
  awk -v p="$1" '{ v[NR] = $1 } END { i = int(NR * p / 100 + 0.999999); if (NR) printf "%.1f", v[i < 1 ? 1 : i]; else printf "-" }'; }
printf '\n| handheld exchanges | p50 ms | p99 ms | max ms | wrong or failed | flood log-ins answered | peak memory before / after |\n'
printf '|---|---|---|---|---|---|---|\n'
printf '| %s | %s | %s | %s | %s | %s | %s / %s |\n' "$exchanges" "$(ms 50)" "$(ms 99)" "$(ms 100)" "$failed" \
  "$(sed -n 's/^status \([0-9]*\): \([0-9]*\)/\1: \2/p' "$dir/flood" | sort | paste -sd, | sed 's/,/, /g')" \
  "$(echo $memory_before)" "$(echo $memory_after)"
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"

clean=1
if [ "$failed" -ne 0 ]; then
  clean=0
  echo "$answered of $exchanges exchanges answered right within the limit of $limit s" >&2
  awk 'NR % 2 == 1 { body = $0 } NR % 2 == 0 && !($1 == 200 && body == ENVIRON["EXPECTED_ANSWER"]) {
    print "first failed exchange: status " $1 " after " $2 " s: " substr(body, 1, 120); exit }' "$dir/handheld" >&2
fi
if [ "${unexpected:-1}" -ne 0 ]; then
  clean=0
  grep -E '^(first unexpected|  Socket errors)' "$dir/flood" >&2 || tail -3 "$dir/flood" >&2
fi
[ "$clean" -eq 1 ] || { echo "NOT CLEAN: see above" >&2; exit 1; }
