#!/usr/bin/env bash
# A store's handhelds at work while log-ins with unknown user names flood the
# server: wrk keeps FLOOD log-ins in flight on /v1/login and ADMIN_FLOOD on the
# back office's /admin/login (a browser's form, from the back office's own
# origin), each a new name, against the storeserver of the build given, on a
# scratch demo store at its own password cost (SQLite, or with --postgres a
# database of a throwaway PostgreSQL cluster). After a second of flood, two
# handhelds work side by side, each with curl on one keep-alive connection and
# a token taken before, every exchange given up after 15 s as a handheld does:
# one sends S100200's aid-account lookup EXCHANGES times, one after another;
# the other, a buyer, adds, changes and deletes CHANGES lines of one ticket in
# turn (three updates a line), as Sellin sends them. They connect from
# 127.0.0.2, the flood from 127.0.0.1. The flood stops when both are done.
# Prints the handhelds' p50, p99 and max over every exchange, the flood's
# answers by status, and the server's peak memory (VmHWM) before the flood
# and after. Of each flood a few connections (4 of /v1/login's, 2 of
# /admin/login's) run on wrk threads of their own, which time their answers:
# their p50, p99 and max per status stand for the flood's.
#
# Fails when any lookup or change was wrong, failed or not answered within
# 15 s, or the flood got an answer other than 401 (refused), 429 (too many
# failed log-ins) or 503 (busy).
#
#   bench/login_flood.sh [--build DIR] [--postgres] [--exchanges N] [--changes N] [--flood N]
#                        [--admin-flood N] [--limit S] [-- SERVER OPTION...]
#
# Exchanges not answered within S seconds (120) of the handhelds' start count as failed.
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/store_server.sh

usage="usage: bench/login_flood.sh [--build DIR] [--postgres] [--exchanges N] [--changes N] [--flood N]"
usage+=" [--admin-flood N] [--limit S] [-- SERVER OPTION...]"
build=build postgres=0 exchanges=500 changes=200 flood=200 admin_flood=50 limit=120
while [ $# -gt 0 ]; do
  case $1 in
    --build) build=$2; shift 2 ;;
    --postgres) postgres=1; shift ;;
    --exchanges) exchanges=$2; shift 2 ;;
    --changes) changes=$2; shift 2 ;;
    --flood) flood=$2; shift 2 ;;
    --admin-flood) admin_flood=$2; shift 2 ;;
    --limit) limit=$2; shift 2 ;;
    --) shift; break ;;
    *) echo "$usage" >&2; exit 2 ;;
  esac
done
need_build_and_tools "$build" wrk curl

flood_pids=()
stop_floods() {
  # wrk prints its counts when interrupted.
  [ ${#flood_pids[@]} -eq 0 ] || { kill -INT "${flood_pids[@]}" 2>/dev/null || true; wait "${flood_pids[@]}" || true; }
  flood_pids=()
}
if [ "$postgres" -eq 1 ]; then
  . bench/postgres_cluster.sh
  start_postgres_cluster  # sets dir, and a trap that removes the cluster
  trap 'stop_floods; stop_store_server; as_postgres "$pg_bin/pg_ctl" -D "$dir/pg/data" -m fast stop >/dev/null
    rm -rf "$dir"' EXIT
  store_database=$(create_store flood)
  kind="PostgreSQL $(basename "$(dirname "$pg_bin")")"
else
  dir=$(mktemp -d "${TMPDIR:-/tmp}/login-flood-XXXXXX")
  trap 'stop_floods; stop_store_server; rm -rf "$dir"' EXIT
  kind=SQLite
fi

peak_memory() { sed -n 's/^VmHWM: *//p' "/proc/$server_pid/status"; }

# The handhelds reach the server from an address of their own, as on a store's
# network, so that the flood's address and its share of the connections are
# not theirs: every curl of the script connects from 127.0.0.2.
echo 'interface = 127.0.0.2' >"$dir/.curlrc"
export CURL_HOME=$dir

start_store_server "$build" "$dir" "$@"
token=$(log_in "$server_address" clerk clerk1)
expect_aid_answer "$dir" "$token"
buyer_token=$(log_in "$server_address" buyer buyer1 0)
receipt=$(open_ticket "$server_address" "$buyer_token")
handheld=('max-time = 15' 'write-out = "\n%{http_code} %{time_total}\n"')
line_updates "$server_address" "$buyer_token" "$receipt" 1 "$changes" "${handheld[@]}" >"$dir/changes.config"
memory_before=$(peak_memory)

echo "storeserver: $build/server/storeserver $* at $server_address (demo store, $kind)"
echo "flood:       $flood log-ins in flight on /v1/login, $admin_flood on /admin/login, unknown names"
echo "handhelds:   $exchanges lookups on one connection; beside it $changes lines added, changed and deleted on another"
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
# flood NAME CONNECTIONS THREADS PATH [ARGUMENT...]: wrk keeps CONNECTIONS log-ins
# in flight on PATH, its counts to DIR/NAME. It stands for machines elsewhere on
# the network, so it runs at the lowest priority: on this machine's cores it
# takes the time the server leaves, not the time the server's threads need.
flood() {
  local name=$1 connections=$2 threads=$3 path=$4
  shift 4
  nice -n 19 wrk -t "$threads" -c "$connections" -d 1h --timeout 30s -s bench/login_flood.lua \
    "http://$server_address$path" names="$name" "$@" >"$dir/$name" 2>&1 &
  flood_pids+=($!)
}
# Of each flood, a few connections on threads of their own time their answers.
probes=4 admin_probes=2
[ "$flood" -gt "$probes" ] && [ "$admin_flood" -gt "$admin_probes" ] ||
  { echo "--flood takes more than $probes, --admin-flood more than $admin_probes" >&2; exit 2; }
form="form=http://$server_address"
flood login "$((flood - probes))" "$((flood - probes < 2 ? 1 : 2))" /v1/login
flood login-timed "$probes" "$probes" /v1/login timed
flood admin "$((admin_flood - admin_probes))" 1 /admin/login "$form"
flood admin-timed "$admin_probes" "$admin_probes" /admin/login "$form" timed
sleep 1
# Each answer, then its status and seconds on a line of their own.
send_time_limit=$limit send "$exchanges" "http://$server_address/v1/exchange" "$dir/aid.body" "${handheld[@]}" \
  >"$dir/handheld" &
lookups_pid=$!
timeout "$limit" curl -sS -K "$dir/changes.config" >"$dir/changes" || true
wait "$lookups_pid"
stop_floods
memory_after=$(peak_memory)

# The expected answer goes through the environment: awk -v would read its "\r" as an escape.
lookup_answer=$(cat "$dir/aid.expect")
done_answer='{"replies":[{"error":false,"text":"","page":0,"page_count":-1}]}'
# right FILE EXPECTED: how many exchanges of FILE were answered 200 with EXPECTED.
right() {
  EXPECTED=$2 awk 'NR % 2 == 1 { body = $0 } NR % 2 == 0 && $1 == 200 && body == ENVIRON["EXPECTED"]' "$1" | wc -l
}
answered=$(right "$dir/handheld" "$lookup_answer")
failed=$((exchanges - answered))
changed=$(right "$dir/changes" "$done_answer")
failed_changes=$((3 * changes - changed))
# ms FILE P: the P-th percentile (nearest rank) of FILE's exchanges, in ms.
ms() { awk 'NR % 2 == 0 { print $2 * 1000 }' "$1" | sort -n |
  awk -v p="$2" '{ v[NR] = $1 } END { i = int(NR * p / 100 + 0.999999); if (NR) printf "%.1f", v[i < 1 ? 1 : i]; else printf "-" }'; }
row() { printf '| %s | %s | %s | %s | %s | %s |\n' "$1" "$2" "$(ms "$3" 50)" "$(ms "$3" 99)" "$(ms "$3" 100)" "$4"; }
printf '\n| handheld | exchanges | p50 ms | p99 ms | max ms | wrong or failed |\n|---|---|---|---|---|---|\n'
row "aid-account lookups" "$exchanges" "$dir/handheld" "$failed"
row "line added, changed, deleted" "$((3 * changes))" "$dir/changes" "$failed_changes"
# statuses NAME: the answers of a flood by status, with their times where it timed them.
statuses() {
  sed -n 's/^status \([0-9]*\): \([0-9]*\)\( p50 \([0-9.]*\) p99 \([0-9.]*\) max \([0-9.]*\)\)\{0,1\}/\1: \2\3/p' \
    "$dir/$1" | sed 's/ p50 \([0-9.]*\) p99 \([0-9.]*\) max \([0-9.]*\)/, p50 \/ p99 \/ max \1 \/ \2 \/ \3 ms/' |
    sort | paste -sd';' | sed 's/;/; /g'
}
printf '\n| flood | connections | answers by status |\n|---|---|---|\n'
printf '| /v1/login | %s | %s |\n' "$((flood - probes))" "$(statuses login)"
printf '| /v1/login, timed | %s | %s |\n' "$probes" "$(statuses login-timed)"
printf '| /admin/login | %s | %s |\n' "$((admin_flood - admin_probes))" "$(statuses admin)"
printf '| /admin/login, timed | %s | %s |\n' "$admin_probes" "$(statuses admin-timed)"
echo "server peak memory before / after: $(echo $memory_before) / $(echo $memory_after)"
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"

clean=1
# first_failed FILE EXPECTED: the first exchange of FILE not answered 200 with EXPECTED.
first_failed() {
  EXPECTED=$2 awk 'NR % 2 == 1 { body = $0 } NR % 2 == 0 && !($1 == 200 && body == ENVIRON["EXPECTED"]) {
    print "status " $1 " after " $2 " s: " substr(body, 1, 160); exit }' "$1"
}
if [ "$failed" -ne 0 ]; then
  clean=0
  echo "$answered of $exchanges lookups answered right within the limit of $limit s" >&2
  echo "first failed lookup: $(first_failed "$dir/handheld" "$lookup_answer")" >&2
fi
if [ "$failed_changes" -ne 0 ]; then
  clean=0
  echo "$changed of $((3 * changes)) line changes done within the limit of $limit s" >&2
  echo "first failed change: $(first_failed "$dir/changes" "$done_answer")" >&2
fi
for f in login login-timed admin admin-timed; do
  unexpected=$(sed -n 's/^unexpected: //p' "$dir/$f")
  if [ "${unexpected:-1}" -ne 0 ]; then
    clean=0
    echo "$f:" >&2
    grep -E '^(first unexpected|  Socket errors)' "$dir/$f" >&2 || tail -3 "$dir/$f" >&2
  fi
done
[ "$clean" -eq 1 ] || { echo "NOT CLEAN: see above" >&2; exit 1; }
