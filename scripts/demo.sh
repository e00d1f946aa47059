#!/usr/bin/env bash
# Installs what is missing, builds, starts storeserver on the demo store and
# opens one program against it in a window:  scripts/demo.sh sellin|adoptra|stipendo
set -euo pipefail
cd "$(dirname "$0")/.."

program=${1:-stipendo}
case "$program" in
  sellin|adoptra|stipendo) ;;
  *) echo "usage: $0 sellin|adoptra|stipendo" >&2; exit 2 ;;
esac

# Checked first: a window nobody can see is no demo, and the install and
# build before it take a while.
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "$0 opens $program in a window, and this session has no display." \
    "Run it in a terminal of a desktop session, or over ssh -X from one." >&2
  exit 1
fi

bash scripts/setup-deps.sh demo
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSTORE_BUILD_TESTS=OFF -DSTORE_BUILD_BENCH=OFF >/dev/null
cmake --build build -j "$(nproc)" --target storeserver sellin adoptra stipendo storescan

demo=.demo
port=${STORE_DEMO_PORT:-8765}
mkdir -p "$demo/profile"
scanner="$PWD/$demo/scanner.pipe"
[ -p "$scanner" ] || mkfifo "$scanner"

# The demo's own profile: the buyer's settings Sellin reads. The real
# settings of this user are left alone.
ini="$demo/profile/OST_PDA/OST.ini"
if [ ! -f "$ini" ]; then
  mkdir -p "$(dirname "$ini")"
  printf '[Sellin]\nBuyerUser=buyer\nBuyerPass=buyer1\nStoreNum=1\n' > "$ini"
fi

./build/server/storeserver --database "$demo/store.db" --demo --address 127.0.0.1 --port "$port" \
  > "$demo/server.log" 2>&1 &
server_pid=$!
trap 'kill "$server_pid" 2>/dev/null || true' EXIT
for _ in $(seq 100); do
  grep -q "listening on" "$demo/server.log" && break
  kill -0 "$server_pid" 2>/dev/null || { cat "$demo/server.log" >&2; exit 1; }
  sleep 0.1
done

# A receipt printer: a file by default; a device (/dev/usb/lp0) or a network
# printer (tcp://host:9100) through STORE_DEMO_PRINTER.
printer=${STORE_DEMO_PRINTER:-$PWD/$demo/printer.txt}

# Only that window reads the scanner; before it opens, storescan finds no reader.
scan_window="$program's lookup window"
[ "$program" != sellin ] || scan_window="Sellin's ticket window"
cat <<TEXT
storeserver runs on http://127.0.0.1:$port (log: $demo/server.log; health: /v1/health).
Demo log-ins: clerk / clerk1, buyer / buyer1, manager / manager1.
Back office: http://127.0.0.1:$port/admin/ as office / office1.
Scan a code from another terminal while $scan_window is open:
  ./build/tools/storescan/storescan --device $scanner S100200
Printouts go to $printer. Closing the window stops the program and the server.
TEXT

./build/"$program"/"$program" --server "http://127.0.0.1:$port" --scanner "$scanner" \
  --printer "$printer" --profile-dir "$demo/profile" --scale "${STORE_UI_SCALE:-2}"
