#!/usr/bin/env bash
# What a durable ticket update costs the server, beside how many it answers:
# ticket_bench at 8 handhelds against storeserver of two builds in turns
# (A B A B ...), each on a fresh SQLite demo store, with perf counting the
# server process's processor time and thread switches for the whole run.
# Updates per second move with the disk's flush time from one run to the
# next; the processor time per update does not. Exits non-zero when any run
# had an error or a ticket not holding what its handheld was told.
#
#   bench/update_cpu.sh BUILD_A BUILD_B [SECONDS] [ROUNDS]
set -euo pipefail
. bench/store_server.sh
a=$1 b=$2 seconds=${3:-5} rounds=${4:-3}
need_build_and_tools "$a" perf
need_build_and_tools "$b"
dir=$(mktemp -d /tmp/update-cpu-XXXXXX)
trap 'stop_store_server; rm -rf "$dir"' EXIT

echo "| build | load | updates per s | raw per s | ratio | server CPU µs per update | server thread switches per update |"
echo "|---|---|---|---|---|---|---|"
failed=0 n=0
run() {
  local tag=$1 build=$2
  n=$((n + 1))
  local scratch="$dir/$tag$n" load
  mkdir "$scratch"
  load=$(cut -d' ' -f1 /proc/loadavg)
  start_store_server "$build" "$scratch" --address 127.0.0.1
  perf stat -x, -e task-clock,context-switches -p "$server_pid" -o "$dir/perf" &
  local perf=$!
  # The same client for both builds: only the server differs.
  "$a/bench/ticket_bench" --server "http://$server_address" --database "$scratch/store.db" --handhelds 8 \
    --seconds "$seconds" >"$dir/out" || failed=1
  kill -INT $perf
  wait $perf 2>/dev/null || true
  stop_store_server
  grep 'NOT CLEAN' "$dir/out" || true
  awk -F'|' -v tag="$tag" -v load="$load" -v perf="$dir/perf" '
    BEGIN { while ((getline line < perf) > 0) { split(line, f, ","); v[f[3]] = f[1] } }
    /^\| updates through/ { updates = $4; rate = $5 }
    /^\| raw/ { raw = $5 }
    END {
      if (updates == 0) { printf "| %s | %s | no updates |\n", tag, load; exit }
      printf "| %s | %s | %d | %d | %.2f | %.0f | %.2f |\n", tag, load, rate, raw, rate / raw,
             1000 * v["task-clock"] / updates, v["context-switches"] / updates
    }' "$dir/out"
}
for _ in $(seq "$rounds"); do
  run A "$a"
  run B "$b"
done
exit $failed
