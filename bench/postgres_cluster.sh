# Sourced, after bench/store_server.sh, by the PostgreSQL benchmark scripts: a
# throwaway durable PostgreSQL cluster, and ticket_bench's handhelds through a
# server on one of its databases. Run as root (the cluster runs as the
# postgres user).

as_postgres() { runuser -u postgres -- "$@"; }

# start_postgres_cluster: a cluster in a scratch directory, dir, listening on
# 127.0.0.1:port; at exit any server is stopped and the cluster removed.
start_postgres_cluster() {
  pg_bin=$(ls -d /usr/lib/postgresql/*/bin | sort -V | tail -1)
  dir=$(mktemp -d /tmp/postgres-bench-XXXXXX)
  chmod 755 "$dir"
  mkdir "$dir/pg"
  chown postgres: "$dir/pg"
  as_postgres "$pg_bin/initdb" -D "$dir/pg/data" -U postgres -A trust -E UTF8 --locale=C >/dev/null
  port=$((20000 + RANDOM % 10000))
  as_postgres "$pg_bin/pg_ctl" -D "$dir/pg/data" -w -l "$dir/pg/server.log" \
    -o "-p $port -c listen_addresses=127.0.0.1 -k $dir/pg" start >/dev/null
  trap 'stop_store_server; as_postgres "$pg_bin/pg_ctl" -D "$dir/pg/data" -m fast stop >/dev/null; rm -rf "$dir"' EXIT
}

# create_store NAME: a database of the cluster; prints its URI.
create_store() {
  as_postgres "$pg_bin/createdb" -h 127.0.0.1 -p "$port" -U postgres "$1"
  echo "postgresql://postgres@127.0.0.1:$port/$1"
}

# handhelds_through BUILD CLIENT DATABASE: CLIENT's ticket_bench at 8
# handhelds for $seconds through BUILD's storeserver on DATABASE (a demo store
# made at its first start); prints its rows, and sets failed=1 on an error or
# a ticket not holding what its handheld was told.
handhelds_through() {
  store_database=$3 start_store_server "$1" "$dir" --address 127.0.0.1
  "$2/bench/ticket_bench" --server "http://$server_address" --database "$3" --handhelds 8 --seconds "$seconds" \
    >"$dir/out" || failed=1
  grep -E '^\| (updates|raw)|NOT CLEAN' "$dir/out" || true
  stop_store_server
}
