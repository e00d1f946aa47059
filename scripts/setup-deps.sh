#!/usr/bin/env bash
# Installs the Debian packages one use of the tree needs, skipping those present:
#   scripts/setup-deps.sh demo         build the programs and the server and run them on SQLite
#   scripts/setup-deps.sh test         that, and what the tests need (scripts/test.sh)
#   scripts/setup-deps.sh screenshots  demo, and the virtual X server and tools of scripts/screenshots.sh
#   scripts/setup-deps.sh chain        demo, PostgreSQL 15 and nginx for scripts/chain.sh
#   scripts/setup-deps.sh bench        test, and what the scripts in bench/ run
set -euo pipefail

demo=(
  g++ cmake ninja-build pkg-config
  qt6-base-dev fonts-dejavu-core
  libboost-dev libcpp-httplib-dev nlohmann-json3-dev
  libsqlite3-dev libsodium-dev libssl-dev libicu-dev libpq-dev
  libkainjow-mustache-dev
)
# The tests: GoogleTest; the openssl command for their certificates; cpack's
# helpers for the package check; clang-format for the style check; Google
# Benchmark, as the test build builds bench/ and smoke-runs its programs; a
# real browser for the back office's tests.
browser=(chromium chromium-driver python3-selenium)
tests=(libgtest-dev libgmock-dev openssl dpkg-dev file libbenchmark-dev clang-format "${browser[@]}")
# Only PostgreSQL's programs: the tests and chain.sh run throwaway clusters of
# their own (see install_postgresql_programs).
postgresql=(postgresql-15)
# pg_auto_failover's monitor and keeper, for the failover test and bench/failover.sh,
# which run a formation of their own the same way.
failover=(postgresql-15-auto-failover pg-auto-failover-cli)

case "${1:-}" in
  demo) packages=("${demo[@]}") ;;
  test) packages=("${demo[@]}" "${tests[@]}" "${postgresql[@]}" "${failover[@]}") ;;
  screenshots) packages=("${demo[@]}" xvfb xdotool imagemagick "${browser[@]}") ;;
  # nginx starts a web server on port 80 on a machine with systemd: only here.
  chain) packages=("${demo[@]}" "${postgresql[@]}" nginx) ;;
  # nginx as the floor, wrk to drive it, valgrind to count instructions,
  # perf to count a server's processor time and thread switches.
  bench) packages=("${demo[@]}" "${tests[@]}" "${postgresql[@]}" "${failover[@]}" nginx wrk valgrind linux-perf curl) ;;
  *) echo "usage: $0 demo|test|screenshots|chain|bench" >&2; exit 2 ;;
esac

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  echo "setup: all packages present"
  exit 0
fi

sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
apt_install() { "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "$@"; }

# A first install of postgresql-15 (also as a dependency of the failover
# packages) makes a cluster "main" that serves port 5432
# from then on, at every boot of a systemd machine. Nothing here needs it, so
# that one install runs with the cluster switched off, and the machine's own
# setting is put back after it (later versions make theirs as usual).
cluster_conf=/etc/postgresql-common/createcluster.conf
install_postgresql_programs() {
  apt_install postgresql-common
  "${sudo_cmd[@]}" cp -p "$cluster_conf" "$cluster_conf.setup-deps"
  trap '"${sudo_cmd[@]}" mv "$cluster_conf.setup-deps" "$cluster_conf"' EXIT
  echo "create_main_cluster = false" | "${sudo_cmd[@]}" tee -a "$cluster_conf" >/dev/null
  apt_install "$@"
}

echo "setup: installing ${missing[*]}"
"${sudo_cmd[@]}" apt-get update -qq
others=() servers=()
for p in "${missing[@]}"; do
  if [[ " ${postgresql[*]} ${failover[*]} " == *" $p "* ]]; then servers+=("$p"); else others+=("$p"); fi
done
[ ${#others[@]} -eq 0 ] || apt_install "${others[@]}"
[ ${#servers[@]} -eq 0 ] || install_postgresql_programs "${servers[@]}"
