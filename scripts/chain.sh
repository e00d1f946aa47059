#!/usr/bin/env bash
# Brings up a small chain on this machine: a throwaway PostgreSQL 15 cluster,
# storeserver processes on its database and nginx balancing between them.
#
#   scripts/chain.sh [--servers N] [--sqlite] [-- COMMAND [ARG...]]
#
# Without COMMAND it prints the balancer's address and runs until Ctrl-C. With
# one, it runs COMMAND once the chain is up, then stops everything and exits
# with COMMAND's status; COMMAND finds the chain in its environment:
#   STORE_CHAIN_URL       the balancer, http://127.0.0.1:PORT
#   STORE_CHAIN_SERVERS   the servers' own addresses (HOST:PORT), space-separated
#   STORE_CHAIN_DATABASE  their database: a postgresql:// URI, or the SQLite file
#   STORE_CHAIN_DIR       the folder of the logs
#   --servers N   storeserver processes (default 2)
#   --sqlite      the servers share an SQLite file in the folder instead (to compare)
#   STORE_CHAIN_PORT  the balancer's port (default 8770)
#   STORE_BUILD_DIR   where storeserver is built (default build)
# The cluster keeps PostgreSQL's default, durable settings (fsync on). When the
# chain fails to start or stops on its own, its logs are kept and their ends printed.
set -euo pipefail
cd "$(dirname "$0")/.."

servers=2
use_sqlite=no
command=()
while [ $# -gt 0 ]; do
  case $1 in
    --servers) [[ ${2:-} =~ ^[1-9][0-9]?$ ]] || { echo "--servers wants a number from 1 to 99" >&2; exit 2; }
               servers=$2; shift 2 ;;
    --sqlite) use_sqlite=yes; shift ;;
    --) shift; command=("$@"); break ;;
    *) echo "usage: scripts/chain.sh [--servers N] [--sqlite] [-- COMMAND [ARG...]]" >&2; exit 2 ;;
  esac
done

bash scripts/setup-deps.sh chain
build=${STORE_BUILD_DIR:-build}
[ -f "$build/build.ninja" ] ||
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSTORE_BUILD_TESTS=OFF -DSTORE_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target storeserver
server="$PWD/$build/server/storeserver"

pg_bin=/usr/lib/postgresql/15/bin
balancer_port=${STORE_CHAIN_PORT:-8770}
port_in_use() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }
if port_in_use "$balancer_port"; then
  echo "port $balancer_port is taken: set STORE_CHAIN_PORT to a free one" >&2
  exit 1
fi
dir=$(mktemp -d "${TMPDIR:-/tmp}/storechain-XXXXXX")
chmod 755 "$dir"
pids=()
up=no

# What happened when, for a start that fails.
step() { echo "$(date +%T.%N | cut -c1-12) $*" >>"$dir/chain.log"; }

# PostgreSQL refuses to run as root: the cluster is the postgres user's.
as_postgres() {
  if [ "$(id -u)" -eq 0 ]; then runuser -u postgres -- "$@"; else "$@"; fi
}

show_logs() {
  for log in "$dir/chain.log" "$dir"/server*.log "$dir/nginx-error.log" "$dir/pg/server.log"; do
    [ -s "$log" ] || continue
    echo "--- last lines of $log" >&2
    tail -n 15 "$log" >&2
  done
}

stop_all() {
  local status=$?
  trap - EXIT INT TERM
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do { wait "$pid" || true; } 2>/dev/null; done
  [ -f "$dir/pg/data/postmaster.pid" ] && as_postgres "$pg_bin/pg_ctl" -D "$dir/pg/data" -w -m fast stop >/dev/null 2>&1
  if [ "$status" -ne 0 ] && [ "$status" -ne 130 ] && { [ $up = no ] || [ ${#command[@]} -eq 0 ]; }; then
    show_logs
    rm -rf "$dir/pg/data"
    echo "chain stopped; its logs are kept in $dir" >&2
  else
    rm -rf "$dir"
    echo "chain stopped"
  fi
  exit "$status"
}
trap stop_all EXIT
trap 'exit 130' INT TERM

# Below the kernel's ephemeral range (32768 on), where the servers' port 0
# and every outgoing connection take theirs.
free_port() {
  local port
  for _ in $(seq 50); do
    port=$((20000 + RANDOM % 12000))
    port_in_use "$port" || { echo "$port"; return; }
  done
  echo "no free port found" >&2
  return 1
}

start_postgres() {
  mkdir "$dir/pg"
  [ "$(id -u)" -ne 0 ] || chown postgres: "$dir/pg"
  as_postgres "$pg_bin/initdb" -D "$dir/pg/data" -U postgres -A trust -E UTF8 --locale=C >"$dir/pg/initdb.log" 2>&1 ||
    { cat "$dir/pg/initdb.log" >&2; return 1; }
  # Another cluster may take the port between the check and the start: try another.
  for _ in 1 2 3; do
    pg_port=$(free_port)
    step "starting PostgreSQL on port $pg_port"
    as_postgres "$pg_bin/pg_ctl" -D "$dir/pg/data" -w -t 60 -l "$dir/pg/server.log" \
      -o "-p $pg_port -c listen_addresses=127.0.0.1 -k $dir/pg" start >/dev/null && break
    grep -q "could not bind" "$dir/pg/server.log" || return 1
  done
  as_postgres "$pg_bin/createdb" -h 127.0.0.1 -p "$pg_port" -U postgres store
  database="postgresql://postgres@127.0.0.1:$pg_port/store"
  step "PostgreSQL runs"
}

# Starts one storeserver on a port of its own choosing and waits until it
# listens, at most a minute; sets server_address to where it listens.
start_server() {
  local name=$1; shift
  step "starting $name"
  # The log exists before the first look at it: the background job may not
  # have opened it yet, and a failed look would end the script (set -e).
  : >"$dir/$name.log"
  "$server" --database "$database" --address 127.0.0.1 --port 0 --trusted-balancers 127.0.0.1 "$@" \
    >>"$dir/$name.log" 2>&1 &
  local pid=$! until=$((SECONDS + 60))
  pids+=("$pid")
  while [ $SECONDS -lt $until ]; do
    server_address=$(sed -n 's/^storeserver listening on //p' "$dir/$name.log")
    [ -n "$server_address" ] && { step "$name listens on $server_address"; return; }
    kill -0 "$pid" 2>/dev/null || { echo "$name stopped before it listened" >&2; return 1; }
    sleep 0.1
  done
  echo "$name did not start listening within a minute" >&2
  return 1
}

# True once this chain's own nginx answers through to a server: the header
# tells it from anything else that might hold the port.
balancer_answers() {
  local reply
  reply=$( (exec 3<>"/dev/tcp/127.0.0.1/$balancer_port" &&
            printf 'GET /v1/health HTTP/1.0\r\nHost: chain\r\n\r\n' >&3 && timeout 5 cat <&3) 2>/dev/null) || return 1
  [[ $reply == *"X-Store-Chain: $dir"* ]]
}

start_nginx() {
  local upstreams="" address
  for address in "${addresses[@]}"; do upstreams+="    server $address;"$'\n'; done
  cat >"$dir/nginx.conf" <<CONF
worker_processes 1;
pid $dir/nginx.pid;
error_log $dir/nginx-error.log;
daemon off;
events { worker_connections 1024; }
http {
  access_log off;
  client_body_temp_path $dir/nginx-body;
  proxy_temp_path $dir/nginx-proxy;
  fastcgi_temp_path $dir/nginx-fastcgi;
  uwsgi_temp_path $dir/nginx-uwsgi;
  scgi_temp_path $dir/nginx-scgi;
  upstream storeservers {
$upstreams    keepalive 32;
  }
  server {
    listen 127.0.0.1:$balancer_port;
    add_header X-Store-Chain "$dir" always;
    location / {
      proxy_pass http://storeservers;
      proxy_http_version 1.1;
      proxy_set_header Connection "";
      # The back office refuses a form whose page came from another address.
      proxy_set_header Host \$http_host;
      proxy_set_header X-Forwarded-For \$remote_addr;
      proxy_next_upstream error timeout non_idempotent;
    }
  }
}
CONF
  step "starting nginx"
  nginx -e "$dir/nginx-error.log" -p "$dir" -c "$dir/nginx.conf" &
  pids+=("$!")
  local until=$((SECONDS + 30))
  while [ $SECONDS -lt $until ]; do
    balancer_answers && { step "nginx answers"; return; }
    kill -0 "${pids[-1]}" 2>/dev/null || { echo "nginx stopped before it answered" >&2; return 1; }
    sleep 0.1
  done
  echo "nginx did not answer within 30 seconds" >&2
  return 1
}

if [ $use_sqlite = yes ]; then database="$dir/store.db"; else start_postgres; fi
# One at a time: the first seeds the demo store, the others find it there.
addresses=()
start_server server1 --demo
addresses+=("$server_address")
for n in $(seq 2 "$servers"); do
  start_server "server$n"
  addresses+=("$server_address")
done
start_nginx
up=yes

export STORE_CHAIN_URL="http://127.0.0.1:$balancer_port" STORE_CHAIN_SERVERS="${addresses[*]}"
export STORE_CHAIN_DATABASE="$database" STORE_CHAIN_DIR="$dir"
if [ ${#command[@]} -gt 0 ]; then
  "${command[@]}"
  exit
fi
cat <<TEXT
The chain runs on $STORE_CHAIN_URL: nginx in front of the servers at ${addresses[*]}.
Database: $database
Logs: $dir/server*.log, $dir/nginx-error.log, $dir/pg/server.log
Demo log-ins: clerk / clerk1, buyer / buyer1, manager / manager1. Ctrl-C stops it all.
TEXT
wait -n "${pids[@]}" || true
echo "a process of the chain stopped on its own; stopping the rest" >&2
exit 1
