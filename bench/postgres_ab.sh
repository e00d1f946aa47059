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
. bench/store_server.sh
. bench/postgres_cluster.sh
a=$1 b=$2 seconds=${3:-10} rounds=${4:-3}
start_postgres_cluster

failed=0 n=0
run() {
  local tag=$1 build=$2 db
  n=$((n + 1))
  db=$(create_store "store$n")
  echo "== $tag ($build), load $(cut -d' ' -f1 /proc/loadavg)"
  # The same client for both builds: only the server differs.
  handhelds_through "$build" "$a" "$db"
}
for _ in $(seq "$rounds"); do
  run A "$a"
  run B "$b"
done
exit $failed
