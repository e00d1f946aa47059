#!/usr/bin/env bash
# Brings up a small chain on this machine: a throwaway PostgreSQL 15 cluster,
# two storeserver processes on its database and nginx balancing between them.
# Prints the balancer's address; Ctrl-C stops everything and removes the lot.
#   STORE_CHAIN_PORT  the balancer's port (default 8770)
#   STORE_BUILD_DIR   where storeserver is built (default build)
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup-deps.sh chain
build=${STORE_BUILD_DIR:-build}
[ -f "$build/build.ninja" ] ||
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSTORE_BUILD_TESTS=OFF -DSTORE_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target storeserver
server="$PWD/$build/server/storeserver"

pg_bin=/usr/lib/postgresql/15/bin
balancer_port=${STORE_CHAIN_PORT:-8770}
dir=$(mktemp -d "${TMPDIR:-/tmp}/storechain-XXXXXX")
chmod 755 "$dir"
pids=()

# PostgreSQL refuses to run as root: the cluster is the postgres user's.
as_postgres() {
  if [ "$(id -u)" -eq 0 ]; then runuser -u postgres -- "$@"; else "$@"; fi
}

stop_all() {
  trap - EXIT INT TERM
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  [ -f "$dir/pg/data/postmaster.pid" ] && as_postgres "$pg_bin/pg_ctl" -D "$dir/pg/data" -w -m fast stop >/dev/null 2>&1
  rm -rf "$dir"
  echo "chain stopped"
}
trap stop_all EXIT
trap 'exit 130' INT TERM

port_in_use() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

free_port() {
  local port
  for _ in $(seq 50); do
    port=$((20000 + RANDOM % 30000))
    port_in_use "$port" || { echo "$port"; return; }
  done
  echo "no free port found" >&2
  return 1
}

start_postgres() {
  mkdir "$dir/pg"
  [ "$(id -u)" -ne 0 ] || chown postgres: "$dir/pg"
  pg_port=$(free_port)
  as_postgres "$pg_bin/initdb" -D "$dir/pg/data" -U postgres -A trust -E UTF8 --locale=C >"$dir/pg/initdb.log" 2>&1 ||
    { cat "$dir/pg/initdb.log" >&2; return 1; }
  as_postgres "$pg_bin/pg_ctl" -D "$dir/pg/data" -w -t 60 -l "$dir/pg/server.log" \
    -o "-p $pg_port -c listen_addresses=127.0.0.1 -k $dir/pg" start >/dev/null ||
    { cat "$dir/pg/server.log" >&2; return 1; }
  as_postgres "$pg_bin/createdb" -h 127.0.0.1 -p "$pg_port" -U postgres store
  database="postgresql://postgres@127.0.0.1:$pg_port/store"
}

# Starts one storeserver on a port of its own choosing and waits until it listens;
# sets server_address to where it listens.
start_server() {
  local name=$1; shift
  "$server" --database "$database" --address 127.0.0.1 --port 0 "$@" >"$dir/$name.log" 2>&1 &
  local pid=$!
  pids+=("$pid")
  for _ in $(seq 300); do
    server_address=$(sed -n 's/^storeserver listening on //p' "$dir/$name.log")
    [ -n "$server_address" ] && return
    kill -0 "$pid" 2>/dev/null || { cat "$dir/$name.log" >&2; return 1; }
    sleep 0.1
  done
  echo "$name did not start listening" >&2
  return 1
}

start_nginx() {
  cat >"$dir/nginx.conf" <<CONF
worker_processes 1;
pid $dir/nginx.pid;
error_log $dir/nginx-error.log;
daemon off;
events { worker_connections 1024; }
http {
  access_log $dir/nginx-access.log;
  client_body_temp_path $dir/nginx-body;
  proxy_temp_path $dir/nginx-proxy;
  fastcgi_temp_path $dir/nginx-fastcgi;
  uwsgi_temp_path $dir/nginx-uwsgi;
  scgi_temp_path $dir/nginx-scgi;
  upstream storeservers {
    server $first;
    server $second;
    keepalive 32;
  }
  server {
    listen 127.0.0.1:$balancer_port;
    location / {
      proxy_pass http://storeservers;
      proxy_http_version 1.1;
      proxy_set_header Connection "";
    }
  }
}
CONF
  nginx -e "$dir/nginx-error.log" -p "$dir" -c "$dir/nginx.conf" &
  pids+=("$!")
  for _ in $(seq 100); do
    port_in_use "$balancer_port" && return
    kill -0 "${pids[-1]}" 2>/dev/null || { cat "$dir/nginx-error.log" >&2; return 1; }
    sleep 0.1
  done
  echo "nginx did not start listening" >&2
  return 1
}

if port_in_use "$balancer_port"; then
  echo "port $balancer_port is taken: set STORE_CHAIN_PORT to a free one" >&2
  exit 1
fi
start_postgres
start_server server1 --demo
first=$server_address
start_server server2
second=$server_address
start_nginx

cat <<TEXT
The chain runs on http://127.0.0.1:$balancer_port (nginx in front of $first and $second).
Database: $database
Logs: $dir/server1.log, $dir/server2.log, $dir/nginx-error.log, $dir/pg/server.log
Demo log-ins: clerk / clerk1, buyer / buyer1, manager / manager1. Ctrl-C stops it all.
TEXT
wait -n "${pids[@]}"
echo "a process of the chain stopped on its own; stopping the rest" >&2
exit 1
