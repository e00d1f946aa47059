#!/usr/bin/env bash
# ticket_bench at 8 handhelds against two builds of storeserver in turns
# (A B A B ...) on one throwaway durable PostgreSQL 15 cluster, a fresh
# database per run, so the machine's load falls on both alike. Prints each
# run's table rows with the 1-minute load at its start; exits non-zero when
# any run had an error or a ticket not holding what its handheld was told.
#
#   bench/postgres_ab.sh BUILD_A BUILD_B [SECONDS] [ROUNDS]
# Run as root (the cluster runs as the postgres user).
set -euo pipefail
a=$1 b=$2 seconds=${3:-10} rounds=${4:-3}
pg_bin=$(ls -d /usr/lib/postgresql/*/bin | sort -V | tail -1)
dir=$(mktemp -d /tmp/postgres-ab-XXXXXX)
chmod 755 "$dir"
mkdir "$dir/pg"
chown postgres: "$dir/pg"
as_postgres() { runuser -u postgres -- "$@"; }
as_postgres "$pg_bin/initdb" -D "$dir/pg/data" -U postgres -A trust -E UTF8 --locale=C >/dev/null
port=$((20000 + RANDOM % 10000))
as_postgres "$pg_bin/pg_ctl" -D "$dir/pg/data" -w -l "$dir/pg/server.log" \
  -o "-p $port -c listen_addresses=127.0.0.1 -k $dir/pg" start >/dev/null
server=""
trap '[ -n "$server" ] && kill $server 2>/dev/null; as_postgres "$pg_bin/pg_ctl" -D "$dir/pg/data" -m fast stop >/dev/null; rm -rf "$dir"' EXIT

failed=0 n=0
run() {
  local tag=$1 build=$2
  n=$((n + 1))
  as_postgres "$pg_bin/createdb" -h 127.0.0.1 -p "$port" -U postgres "store$n"
  local db="postgresql://postgres@127.0.0.1:$port/store$n" log="$dir/$tag$n.log" address=""
  "$build/server/storeserver" --database "$db" --address 127.0.0.1 --port 0 --demo >"$log" 2>&1 &
  server=$!
  for _ in $(seq 600); do
    address=$(sed -n 's/^storeserver listening on //p' "$log")
    [ -n "$address" ] && break
    sleep 0.1
  done
  echo "== $tag ($build), load $(cut -d' ' -f1 /proc/loadavg)"
  # The same client for both builds: only the server differs.
  "$a/bench/ticket_bench" --server "http://$address" --database "$db" --handhelds 8 --seconds "$seconds" \
    >"$dir/out" || failed=1
  grep -E '^\| (updates|raw)|NOT CLEAN' "$dir/out" || true
  kill $server
  wait $server 2>/dev/null || true
  server=""
}
for _ in $(seq "$rounds"); do
  run A "$a"
  run B "$b"
done
exit $failed
