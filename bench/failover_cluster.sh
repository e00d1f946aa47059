# Sourced by bench/failover.sh: a pg_auto_failover formation on this one
# machine, as the chain runs it on three: a monitor and two PostgreSQL 15
# nodes, each on a free port of 127.0.0.1 under one scratch directory, run as
# the postgres user (pg_autoctl refuses root). Each node runs in a session of
# its own, so that killing that session's processes is a machine dying.
# Needs pg_autoctl (postgresql-15-auto-failover, pg-auto-failover-cli).

# Why a formation cannot run here; nothing when it can.
formation_unavailable() {
  command -v pg_autoctl >/dev/null || { echo "pg_autoctl is not installed (pg-auto-failover-cli)"; return; }
  [ -d /usr/lib/postgresql/15/lib/bitcode/pgautofailover ] || [ -f /usr/lib/postgresql/15/lib/pgautofailover.so ] ||
    { echo "the pgautofailover extension is not installed (postgresql-15-auto-failover)"; return; }
  [ "$(id -u)" -ne 0 ] || getent passwd postgres >/dev/null || echo "there is no postgres user to run PostgreSQL as"
}

# The monitor's health checks, tighter than its defaults (a check every 5 s,
# a node unhealthy after 20 s, 30 s for a primary to demote itself): a node
# whose PostgreSQL refuses connections for 2 s, and whose keeper has not
# reported for 5 s, is failed over.
formation_monitor_settings=(
  "pgautofailover.health_check_period=1000"
  "pgautofailover.health_check_timeout=1000"
  "pgautofailover.health_check_max_retries=1"
  "pgautofailover.health_check_retry_delay=500"
  "pgautofailover.node_considered_unhealthy_timeout=5000"
  "pgautofailover.primary_demote_timeout=5000"
)

# as_owner COMMAND...: as the postgres user when root.
as_owner() {
  if [ "$(id -u)" -eq 0 ]; then runuser -u postgres -- "$@"; else "$@"; fi
}

# autoctl NAME COMMAND...: pg_autoctl for the monitor or node NAME, its
# configuration and state kept in its own folder of the formation.
autoctl() {
  local name=$1
  shift
  as_owner env XDG_CONFIG_HOME="$formation/$name.config" XDG_DATA_HOME="$formation/$name.state" \
    XDG_RUNTIME_DIR="$formation/$name.run" PGHOST=127.0.0.1 pg_autoctl "$@"
}

free_port() {
  local port
  while port=$((40000 + RANDOM % 20000)); ss -ltnH "sport = :$port" | grep -q .; do :; done
  echo "$port"
}

# monitor_sql SQL: one value from the monitor's database.
monitor_sql() {
  psql -X -At -h 127.0.0.1 -p "${ports[monitor]}" -U autoctl_node pg_auto_failover -c "$1"
}

# run_node NAME: runs NAME's pg_autoctl (and so its PostgreSQL) in a session of its own.
# Started from a subshell, so that this shell does not report its death.
run_node() {
  (
    setsid bash -c "$(declare -f as_owner autoctl); formation=$formation; autoctl $1 run --pgdata $formation/$1" \
      >>"$formation/$1.log" 2>&1 </dev/null &
    echo $! >"$formation/$1.session"
  )
}

# kill_node NAME: every process of NAME's session, at once, with SIGKILL: its
# pg_autoctl and its PostgreSQL go as they would with the machine.
kill_node() {
  kill -KILL -- "-$(cat "$formation/$1.session")" 2>/dev/null || true
  while pgrep -s "$(cat "$formation/$1.session")" >/dev/null; do sleep 0.05; done
}

# stop_node NAME: as its administrator stops it.
stop_node() {
  autoctl "$1" stop --pgdata "$formation/$1" >/dev/null
  while pgrep -s "$(cat "$formation/$1.session")" >/dev/null; do sleep 0.1; done
}

# wait_for_states SECONDS STATE...: until the nodes' reported states, in node
# order, are those given (wait_primary, primary, secondary...); fails after SECONDS.
wait_for_states() {
  local seconds=$1 want states
  shift
  want=$(IFS=' '; echo "$*")
  for _ in $(seq $((seconds * 10))); do
    states=$(monitor_sql "SELECT string_agg(reportedstate::text, ' ' ORDER BY nodeid) FROM pgautofailover.node
                          WHERE reportedstate = goalstate" 2>/dev/null) || states=
    [ "$states" != "$want" ] || return 0
    sleep 0.1
  done
  echo "the formation is not $want after $seconds s: $(monitor_sql "SELECT string_agg(nodename || ' ' ||
    reportedstate || '->' || goalstate, ', ' ORDER BY nodeid) FROM pgautofailover.node")" >&2
  return 1
}

# primary_node: the name of the node the monitor holds as the primary.
primary_node() {
  monitor_sql "SELECT nodename FROM pgautofailover.node WHERE goalstate IN ('primary', 'wait_primary')"
}

# start_formation: the monitor and nodes node1 (the first primary) and node2
# in a new scratch directory, formation; sets store_uri, the multi-host
# address of database "store" a store server is given.
start_formation() {
  formation=$(mktemp -d "${TMPDIR:-/tmp}/failover-XXXXXX")
  chmod 755 "$formation"
  [ "$(id -u)" -ne 0 ] || chown postgres: "$formation"
  declare -gA ports
  local name pg_ctl=/usr/lib/postgresql/15/bin/pg_ctl
  for name in monitor node1 node2; do ports[$name]=$(free_port); done
  autoctl monitor create monitor --pgdata "$formation/monitor" --pgport "${ports[monitor]}" --hostname 127.0.0.1 \
    --auth trust --no-ssl --pgctl "$pg_ctl" >>"$formation/monitor.log" 2>&1
  for setting in "${formation_monitor_settings[@]}"; do echo "$setting" >>"$formation/monitor/postgresql.conf"; done
  run_node monitor
  until monitor_sql "SELECT 1" >/dev/null 2>&1; do sleep 0.1; done
  for name in node1 node2; do
    autoctl "$name" create postgres --pgdata "$formation/$name" --pgport "${ports[$name]}" --hostname 127.0.0.1 \
      --listen 127.0.0.1 --name "$name" --auth trust --no-ssl --dbname store --pgctl "$pg_ctl" \
      --monitor "postgres://autoctl_node@127.0.0.1:${ports[monitor]}/pg_auto_failover?sslmode=disable" \
      >>"$formation/$name.log" 2>&1
    run_node "$name"
    [ "$name" = node2 ] || wait_for_states 60 single
  done
  wait_for_states 120 primary secondary
  store_uri="postgresql://postgres@127.0.0.1:${ports[node1]},127.0.0.1:${ports[node2]}/store?target_session_attrs=read-write"
}

stop_formation() {
  local name
  for name in node1 node2 monitor; do [ ! -f "$formation/$name.session" ] || kill_node "$name"; done
  rm -rf "$formation"
}
