#!/usr/bin/env bash
# Installs the Debian packages the suite needs to build, test and run, skipping those present.
#   scripts/setup-deps.sh           what the build, the tests and the demo need
#   scripts/setup-deps.sh chain     that, and the load balancer of scripts/chain.sh
#   scripts/setup-deps.sh bench     that, and what the scripts in bench/ run
set -euo pipefail

packages=(
  g++ cmake ninja-build pkg-config git
  qt6-base-dev
  libboost-dev libcpp-httplib-dev nlohmann-json3-dev
  libsqlite3-dev libsodium-dev libssl-dev libicu-dev
  libpq-dev postgresql
  libgtest-dev libgmock-dev libbenchmark-dev
  openssl dpkg-dev file
  xvfb xauth fonts-dejavu-core xdotool imagemagick x11-utils
)
# nginx only where the several-server setup is wanted: its package starts a web
# server on port 80 on a machine with systemd.
if [ "${1:-}" = chain ]; then packages+=(nginx); fi
# The benchmark scripts: nginx as the floor, wrk to drive it, valgrind to count
# instructions.
if [ "${1:-}" = bench ]; then packages+=(nginx wrk valgrind curl); fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "setup: all packages present"
  exit 0
fi

echo "setup: installing ${missing[*]}"
sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
