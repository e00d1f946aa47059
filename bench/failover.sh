#!/usr/bin/env bash
# The chain's database machine dies under load. A pg_auto_failover formation
# (bench/failover_cluster.sh: a monitor, a primary and its synchronous
# standby, on this machine) behind one storeserver given both nodes' addresses;
# ticket_bench's handhelds add and change lines through it. First, updates/s
# with the synchronous standby against the primary alone (its standby down:
# the monitor drops synchronous replication), and the seconds without answers
# when the standby dies; then FAILOVERS times the primary's node is killed
# with SIGKILL (its keeper and its PostgreSQL at once, as a dying machine
# goes), the monitor promotes the standby, and the old primary is started
# again to rejoin as the new standby. At the end every ticket must hold
# exactly the lines and copies its handheld was told were saved, and the
# copies bought must have grown by as many as the lines hold.
#
#   bench/failover.sh [--build DIR] [--failovers N] [--seconds S] [--handhelds N]
#
# --seconds S: each of the two rate runs (0 leaves both out, as the failover
# test does). Prints the figures and whether each target was met; exits 1 when
# an update failed, a line was lost or doubled, or the service did not come
# back; 77 (skipped) where pg_auto_failover is not installed or ticket_bench not built. Run as root
# (the formation runs as the postgres user) or as a user PostgreSQL may run as.
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/store_server.sh
. bench/failover_cluster.sh

build=build failovers=5 seconds=20 handhelds=8
while [ $# -gt 0 ]; do
  case $1 in
    --build) build=$2; shift 2 ;;
    --failovers) failovers=$2; shift 2 ;;
    --seconds) seconds=$2; shift 2 ;;
    --handhelds) handhelds=$2; shift 2 ;;
    *) echo "usage: bench/failover.sh [--build DIR] [--failovers N] [--seconds S] [--handhelds N]" >&2; exit 2 ;;
  esac
done
why=$(formation_unavailable)
[ -z "$why" ] || { echo "skipped: $why (scripts/setup-deps.sh test installs it)"; exit 77; }
[ -x "$build/bench/ticket_bench" ] ||
  { echo "skipped: no ticket_bench in $build (cmake --build $build --target ticket_bench storeserver)"; exit 77; }
need_build_and_tools "$build" psql

now_ms() { date +%s%3N; }
seconds_since() { awk -v from="$1" -v to="$2" 'BEGIN { printf "%.1f", (to - from) / 1000 }'; }
started=$(now_ms)
start_formation
echo "== the formation up after $(seconds_since "$started" "$(now_ms)") s" >&2
trap 'stop_store_server; stop_formation' EXIT
trap 'exit 1' INT TERM HUP  # the nodes run in sessions of their own: stopped by the trap above
store_database=$store_uri start_store_server "$build" "$formation" --address 127.0.0.1
sql() { psql -X -At "$store_uri" -c "$1"; }
# Copies bought in the benchmark's buying session, and the copies its ticket lines hold.
bought_and_held() {
  sql "SELECT (SELECT sum(bought_qty) FROM book_purchasers WHERE session_id = 1002) || ' ' ||
              (SELECT coalesce(sum(qty), 0) FROM ticket_lines WHERE session_id = 1002)"
}
failed=0

# handhelds [OPTION...]: ticket_bench's handhelds through the server; prints
# the updates/s of its row, fails on an error or a ticket not as told.
handhelds() {
  local status=0
  "$build/bench/ticket_bench" --server "http://$server_address" --database "$store_uri" --handhelds "$handhelds" \
    --raw no "$@" >"$formation/bench.out" || status=1
  grep -v -E '^\| what|^\|---' "$formation/bench.out" >&2 || true
  sed -n 's/^| updates through the server *| *[0-9]* *| *[0-9]* *| *\([0-9.]*\) .*/\1/p' "$formation/bench.out"
  return $status
}

# silence_after FILE KILL_MS [UNTIL_MS]: the longest span, in seconds, between
# two answered updates in FILE that ends after KILL_MS (and before UNTIL_MS);
# and how long after KILL_MS that span ended.
silence_after() {
  awk -v kill="$2" -v until="${3:-9e15}" '$1 >= until { exit }
    { if ($1 >= kill && last && $1 - last > gap) { gap = $1 - last; end = $1 } last = $1 }
    END { if (!gap) print "none none"; else printf "%.1f %.1f\n", gap / 1000, (end - kill) / 1000 }' "$1"
}

# other NODE: the other node of the pair.
other() { [ "$1" = node1 ] && echo node2 || echo node1; }

# states_with PRIMARY STATE: the pair's states in node order, PRIMARY in STATE and the other a secondary.
states_with() { [ "$1" = node1 ] && echo "$2 secondary" || echo "secondary $2"; }

before=$(bought_and_held)
load=$(cut -d' ' -f1 /proc/loadavg)
if [ "$seconds" != 0 ]; then
  echo "== updates/s with the synchronous standby ('$(sql "SHOW synchronous_standby_names")'), $handhelds handhelds," \
    "$seconds s" >&2
  with_standby=$(handhelds --seconds "$seconds") || failed=1
  primary=$(primary_node) standby=$(other "$(primary_node)")
  echo "== the standby ($standby) killed under load; then the primary alone" >&2
  handhelds --seconds 3600 --until "$formation/stop" --answers "$formation/standby.answers" >/dev/null &
  bench_pid=$!
  sleep 3
  killed_at=$(now_ms)
  kill_node "$standby"
  wait_for_states 120 wait_primary
  echo "   the primary's synchronous_standby_names: '$(sql "SHOW synchronous_standby_names")'" >&2
  sleep 3
  touch "$formation/stop"
  wait "$bench_pid" || failed=1
  rm "$formation/stop"
  read -r standby_gap _ < <(silence_after "$formation/standby.answers" "$killed_at")
  alone=$(handhelds --seconds "$seconds") || failed=1
  run_node "$standby"
  wait_for_states 120 $(states_with "$primary" primary)
fi

echo "== $failovers failovers under load, $handhelds handhelds ($(seconds_since "$started" "$(now_ms)") s in)" >&2
handhelds --seconds 3600 --until "$formation/stop" --answers "$formation/answers" >/dev/null &
bench_pid=$!
kills=()
for round in $(seq "$failovers"); do
  sleep 3
  primary=$(primary_node)
  kills+=("$(now_ms)")
  kill_node "$primary"
  wait_for_states 120 wait_primary || { failed=1; break; }
  promoted=$(now_ms)
  run_node "$primary"
  wait_for_states 120 $(states_with "$(other "$primary")" primary) || { failed=1; break; }
  echo "   failover $round: $primary killed; $(other "$primary") promoted after $(seconds_since "${kills[-1]}" "$promoted") s;" \
    "$primary back as its standby $(seconds_since "$promoted" "$(now_ms)") s later" >&2
done
sleep 3
touch "$formation/stop"
wait "$bench_pid" || failed=1
after=$(bought_and_held)

read -r bought0 held0 <<<"$before"
read -r bought1 held1 <<<"$after"
worst=0
echo "| failover | seconds without answers | back after the kill, s |"
echo "|---|---|---|"
for i in "${!kills[@]}"; do
  read -r gap back < <(silence_after "$formation/answers" "${kills[$i]}" "${kills[$((i + 1))]:-}")
  echo "| $((i + 1)) | $gap | $back |"
  [ "$back" != none ] || { back=999; failed=1; }
  worst=$(awk -v a="$worst" -v b="$back" 'BEGIN { print (b > a) ? b : a }')
done
met() { awk "BEGIN { exit !($1) }" && echo "met" || echo "NOT MET"; }
echo
echo "load at the start $load; updates answered during the failovers: $(wc -l <"$formation/answers")"
echo "copies bought grew by $((bought1 - bought0)), the tickets' lines hold $((held1 - held0)) more: $(
  [ $((bought1 - bought0)) -eq $((held1 - held0)) ] && echo equal || { failed=1; echo DIFFERENT; })"
echo "failovers: ${#kills[@]} of $failovers; latest back ${worst} s after its kill (target <= 30 s: $(met "$worst <= 30"))"
if [ "$seconds" != 0 ]; then
  echo "updates/s: with the synchronous standby $with_standby, primary alone $alone (target >= 0.5: $(
    met "$with_standby >= 0.5 * $alone"), $(awk -v a="$with_standby" -v b="$alone" 'BEGIN { printf "%.2f", a / b }'))"
  echo "standby killed under load: ${standby_gap} s without answers, then the primary alone"
fi
echo "the whole run: $(seconds_since "$started" "$(now_ms)") s"
[ "$failed" -eq 0 ] && echo "every acknowledged line stored once" || echo "NOT CLEAN: see above"
exit "$failed"
