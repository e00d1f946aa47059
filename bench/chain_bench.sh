#!/usr/bin/env bash
# The query and update exchanges against each setup in one run: SQLite with one
# server; PostgreSQL with one server, reached directly and through nginx;
# PostgreSQL with two servers behind nginx. Each setup is brought up by
# scripts/chain.sh (a durable throwaway cluster), measured by loadgen (the
# aid-account query, and the health floor) and ticket_bench (a ticket line added
# and changed, and the raw two-row transactions on the same database), and
# taken down. Exits non-zero when any run had an error or a wrong answer. On PostgreSQL a second ticket_bench run at 8 handhelds samples
# what the database's sessions wait for. Prints one table at the end.
#
#   bench/chain_bench.sh [--seconds S] [--handhelds LIST]
#   STORE_BUILD_DIR  the build to use (default build-bench, configured Release)
#   STORE_CHAIN_PORT the balancer's port (default 8770)
set -euo pipefail
cd "$(dirname "$0")/.."

# Writes the psql script that looks every 20 ms, until psql is killed, at what
# the database's busy sessions wait for: a line "sample" per look, then one per
# session not idle.
write_wait_sampler() {
  cat >"$1" <<'SQL'
SELECT 'sample' UNION ALL SELECT state || ' ' || COALESCE(wait_event_type || ':' || wait_event, 'running')
  FROM pg_stat_activity WHERE backend_type = 'client backend' AND pid <> pg_backend_pid() AND state <> 'idle'
\watch 0.02
SQL
}

# ticket_bench at 8 handhelds while the waits are sampled; stops both when the
# handhelds' row is out, before the raw row.
measure_waits() {
  local url=$1 out=$2
  "$build/bench/ticket_bench" --server "$url" --database "$STORE_CHAIN_DATABASE" --handhelds 8 --seconds "$seconds" \
    >"$out.run" 2>&1 &
  local bench=$!
  write_wait_sampler "$out.sql"
  psql -At -f "$out.sql" "$STORE_CHAIN_DATABASE" >"$out.samples" 2>/dev/null &
  local sampler=$!
  until grep -q "updates through the server" "$out.run" || ! kill -0 "$bench" 2>/dev/null; do sleep 0.05; done
  kill "$sampler" "$bench" 2>/dev/null || true
  wait "$sampler" "$bench" || true
  local samples
  samples=$(grep -c '^sample$' "$out.samples" || true)
  grep -E '^(active|idle in transaction)' "$out.samples" | sort | uniq -c | sort -rn |
    awk -v n="$samples" '{ c = $1; $1 = ""; printf "%-40s %6.2f\n", substr($0, 2), c / n }' >"$out"
}

# Inside a chain: measure each TAG:TARGET, TARGET "server" (the first server)
# or "balancer".
inside() {
  for job in "$@"; do
    local tag=${job%%:*} url=$STORE_CHAIN_URL
    [ "${job#*:}" = server ] && url="http://${STORE_CHAIN_SERVERS%% *}"
    echo "== $tag: $url, database $STORE_CHAIN_DATABASE"
    uptime >"$results/$tag.load"
    # Errors are counted in the table rather than stopping the run; the run
    # fails at the end.
    "$build/bench/loadgen" --server "$url" --handhelds "$handhelds" --seconds "$seconds" | tee "$results/$tag.loadgen" ||
      echo "$tag: loadgen" >>"$results/failed"
    "$build/bench/ticket_bench" --server "$url" --database "$STORE_CHAIN_DATABASE" --handhelds "$handhelds" \
      --seconds "$seconds" | tee "$results/$tag.ticket" || echo "$tag: ticket_bench" >>"$results/failed"
    if [[ $STORE_CHAIN_DATABASE == postgresql://* ]]; then
      measure_waits "$url" "$results/$tag.waits"
      echo "sessions per state and wait event, on average (8 handhelds):"
      cat "$results/$tag.waits"
    fi
    uptime >>"$results/$tag.load"
  done
}

# Field N of a ticket_bench table row, "-" when the row is missing.
field() {
  local value
  value=$(echo "$1" | cut -d'|' -f"$2" | tr -d ' ')
  echo "${value:--}"
}

# One row per setup and handheld count, and the raw transactions of each setup.
summary() {
  printf '\n| setup | handhelds | queries/s | query p50 / p99 ms | floor/s | updates/s | update p50 / p99 ms | errors (queries + updates) |\n'
  printf '|---|---|---|---|---|---|---|---|\n'
  for tag in "$@"; do
    local label
    label=$(head -1 "$results/$tag.label")
    for n in ${handhelds//,/ }; do
      local query floor update
      query=$(awk -v n="$n" '$1 == "exchange" && $2 == n { print $5, $6, $7, $12 }' "$results/$tag.loadgen")
      floor=$(awk -v n="$n" '$1 == "floor" && $2 == n { print $5 }' "$results/$tag.loadgen")
      update=$(grep "^| updates through the server | $n |" "$results/$tag.ticket" || true)
      read -r qps qp50 qp99 qerrors <<<"${query:-- - - 0}"
      printf '| %s | %s | %s | %s / %s | %s | %s | %s / %s | %s |\n' "$label" "$n" "$qps" "$qp50" "$qp99" "${floor:--}" \
        "$(field "$update" 5)" "$(field "$update" 6)" "$(field "$update" 7)" "$qerrors + $(field "$update" 9)"
    done
  done
  for tag in "$@"; do
    local raw
    raw=$(grep "^| raw two-row transactions |" "$results/$tag.ticket" || true)
    printf '| %s: raw two-row transactions | 1 | | | | %s | %s / %s | %s |\n' "$(head -1 "$results/$tag.label")" \
      "$(field "$raw" 5)" "$(field "$raw" 6)" "$(field "$raw" 7)" "$(field "$raw" 9)"
  done
  echo
  for tag in "$@"; do echo "load $(head -1 "$results/$tag.label"):"; sed 's/^/  /' "$results/$tag.load"; done
}

if [ "${1:-}" = --inside ]; then
  shift
  build=$CHAIN_BENCH_BUILD results=$CHAIN_BENCH_RESULTS
  seconds=$CHAIN_BENCH_SECONDS handhelds=$CHAIN_BENCH_HANDHELDS
  inside "$@"
  exit
fi
seconds=3
handhelds=1,8,64
while [ $# -gt 0 ]; do
  case $1 in
    --seconds) seconds=$2; shift 2 ;;
    --handhelds) handhelds=$2; shift 2 ;;
    *) echo "usage: bench/chain_bench.sh [--seconds S] [--handhelds LIST]" >&2; exit 2 ;;
  esac
done

bash scripts/setup-deps.sh bench
build=${STORE_BUILD_DIR:-build-bench}
[ -f "$build/build.ninja" ] ||
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DSTORE_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target storeserver loadgen ticket_bench
results=$(mktemp -d "${TMPDIR:-/tmp}/chain-bench-XXXXXX")
export STORE_BUILD_DIR=$build CHAIN_BENCH_BUILD=$PWD/$build CHAIN_BENCH_RESULTS=$results
export CHAIN_BENCH_SECONDS=$seconds CHAIN_BENCH_HANDHELDS=$handhelds

echo "SQLite, 1 server" >"$results/sqlite.label"
echo "PostgreSQL, 1 server" >"$results/pg1.label"
echo "PostgreSQL, 1 server via nginx" >"$results/pg1-nginx.label"
echo "PostgreSQL, 2 servers via nginx" >"$results/pg2-nginx.label"
scripts/chain.sh --sqlite --servers 1 -- bash bench/chain_bench.sh --inside sqlite:server
scripts/chain.sh --servers 1 -- bash bench/chain_bench.sh --inside pg1:server pg1-nginx:balancer
scripts/chain.sh --servers 2 -- bash bench/chain_bench.sh --inside pg2-nginx:balancer
summary sqlite pg1 pg1-nginx pg2-nginx
echo "every run's output: $results"
if [ -e "$results/failed" ]; then
  echo "NOT CLEAN: errors or wrong answers in" $(cat "$results/failed") >&2
  exit 1
fi
