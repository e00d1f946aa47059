#!/usr/bin/env bash
# The aid-account exchange against nginx's `return 200` of a 200-byte body, in
# one run on the same machine: wrk at each client count sends one to the
# storeserver of the build given (a scratch demo store, S100200's lookup with a
# clerk's token taken before timing) and then the other to a throwaway nginx on
# a free port, in turns, each count REPEAT times; the median of each is shown.
# Every answer must be byte for byte the one a single request got before the
# run (checked to be S100200's one account); any other answer, non-200 status
# or socket error makes the run fail.
#
#   bench/nginx_floor.sh [--build DIR] [--seconds S] [--clients LIST] [--repeat N] [-- SERVER OPTION...]
#
# DIR defaults to build; options after -- go to storeserver (--workers 2).
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/store_server.sh

build=build seconds=5 clients=1,8,64 repeat=3
while [ $# -gt 0 ]; do
  case $1 in
    --build) build=$2; shift 2 ;;
    --seconds) seconds=$2; shift 2 ;;
    --clients) clients=$2; shift 2 ;;
    --repeat) repeat=$2; shift 2 ;;
    --) shift; break ;;
    *) echo "usage: bench/nginx_floor.sh [--build DIR] [--seconds S] [--clients LIST] [--repeat N] [-- SERVER OPTION...]" >&2
       exit 2 ;;
  esac
done
need_build_and_tools "$build" wrk nginx curl

dir=$(mktemp -d "${TMPDIR:-/tmp}/nginx-floor-XXXXXX")
nginx_pid=
cleanup() {
  stop_store_server
  [ -z "$nginx_pid" ] || { kill "$nginx_pid" 2>/dev/null; wait "$nginx_pid" 2>/dev/null || true; }
  rm -rf "$dir"
}
trap cleanup EXIT

# nginx in the foreground of a job of ours, on a free port; sets nginx_port.
start_nginx() {
  head -c 200 /dev/zero | tr '\0' 'x' >"$dir/nginx.expect"
  mkdir -p "$dir/nginx-temp"
  for try in 1 2 3 4 5 6 7 8 9 10; do
    nginx_port=$((20000 + RANDOM % 40000))
    (exec 3<>"/dev/tcp/127.0.0.1/$nginx_port") 2>/dev/null && continue
    cat >"$dir/nginx.conf" <<CONF
worker_processes auto;
pid $dir/nginx.pid;
error_log $dir/nginx-error.log;
events { worker_connections 4096; }
http {
  access_log off;
  client_body_temp_path $dir/nginx-temp; proxy_temp_path $dir/nginx-temp; fastcgi_temp_path $dir/nginx-temp;
  uwsgi_temp_path $dir/nginx-temp; scgi_temp_path $dir/nginx-temp;
  # The storeserver keeps a connection as long as the client does.
  keepalive_requests 100000000;
  server {
    listen 127.0.0.1:$nginx_port;
    location / { default_type text/plain; return 200 "$(cat "$dir/nginx.expect")"; }
  }
}
CONF
    nginx -g 'daemon off;' -c "$dir/nginx.conf" -e "$dir/nginx-error.log" 2>>"$dir/nginx-error.log" &
    nginx_pid=$!
    for _ in $(seq 100); do
      [ "$(curl -s "http://127.0.0.1:$nginx_port/")" = "$(cat "$dir/nginx.expect")" ] && return 0
      kill -0 "$nginx_pid" 2>/dev/null || break
      sleep 0.05
    done
    kill "$nginx_pid" 2>/dev/null; wait "$nginx_pid" 2>/dev/null || true
    nginx_pid=
  done
  echo "nginx did not start:" >&2
  cat "$dir/nginx-error.log" >&2
  return 1
}

# measure URL BODY_FILE EXPECT_FILE CLIENTS OUT: one wrk run; OUT gets its output.
measure() {
  local threads=$(( $4 < $(nproc) ? $4 : $(nproc) ))
  BENCH_BODY_FILE=$2 BENCH_EXPECT_FILE=$3 wrk -t "$threads" -c "$4" -d "${seconds}s" -s bench/answer_check.lua "$1" >"$5" 2>&1 ||
    echo "wrk failed" >>"$5"
}

# Requests per second of a wrk output, and its faults (wrong answers, socket errors).
rate() { sed -n 's/^Requests\/sec: *\([0-9.]*\).*/\1/p' "$1"; }
faults() {
  local wrong sockets
  wrong=$(sed -n 's/^wrong answers: //p' "$1")
  sockets=$(sed -n 's/^ *Socket errors: connect \([0-9]*\), read \([0-9]*\), write \([0-9]*\), timeout \([0-9]*\)/\1 \2 \3 \4/p' "$1")
  echo $(( ${wrong:-1} + $(tr ' ' '+' <<<"${sockets:-0}") )) $(grep -c '^wrk failed' "$1" || true)
}
micros() { sed -n "s/^p$2 us: //p" "$1"; }
median() { sort -n | awk '{ v[NR] = $1 } END { print NR ? v[int((NR + 1) / 2)] : 0 }'; }

start_store_server "$build" "$dir" "$@"
token=$(log_in "$server_address" clerk clerk1)
expect_aid_answer "$dir" "$token"
start_nginx

echo "storeserver: $build/server/storeserver $* at $server_address (demo store, SQLite)"
echo "nginx:       $(nginx -v 2>&1 | sed 's/^nginx version: //'), return 200 of 200 bytes at 127.0.0.1:$nginx_port"
echo "wrk:         ${seconds} s per run, threads = min(clients, $(nproc) cores), each answer compared; median of $repeat"
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
failed=0
printf '\n| clients | nginx req/s | storeserver req/s | ratio | storeserver p50 / p99 ms | nginx p50 / p99 ms | wrong or failed |\n'
printf '|---|---|---|---|---|---|---|\n'
for c in ${clients//,/ }; do
  for r in $(seq "$repeat"); do
    measure "http://$server_address/v1/exchange" "$dir/aid.body" "$dir/aid.expect" "$c" "$dir/store-$c-$r"
    measure "http://127.0.0.1:$nginx_port/" "" "$dir/nginx.expect" "$c" "$dir/nginx-$c-$r"
  done
  store=$(for r in $(seq "$repeat"); do rate "$dir/store-$c-$r"; done | median)
  floor=$(for r in $(seq "$repeat"); do rate "$dir/nginx-$c-$r"; done | median)
  ms() { for r in $(seq "$repeat"); do micros "$dir/$1-$c-$r" "$2"; done | median | awk '{ printf "%.2f", $1 / 1000 }'; }
  bad=0
  for out in "$dir"/store-"$c"-* "$dir"/nginx-"$c"-*; do
    read -r wrong broken <<<"$(faults "$out")"
    if [ "$wrong" -gt 0 ] || [ "$broken" -gt 0 ]; then
      bad=$((bad + wrong + broken))
      echo "  $(basename "$out"): $(grep -E '^(first wrong answer|wrk failed|  Socket errors)' "$out" | head -2 | tr '\n' ' ')" >&2
    fi
  done
  [ "$bad" -eq 0 ] || failed=1
  printf '| %s | %.0f | %.0f | %s | %s / %s | %s / %s | %s |\n' "$c" "$floor" "$store" \
    "$(awk -v a="$store" -v b="$floor" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }')" \
    "$(ms store 50)" "$(ms store 99)" "$(ms nginx 50)" "$(ms nginx 99)" "$bad"
done
echo
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
[ "$failed" -eq 0 ] || { echo "NOT CLEAN: wrong answers, failed requests or socket errors above" >&2; exit 1; }
