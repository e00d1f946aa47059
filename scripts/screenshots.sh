#!/usr/bin/env bash
# Photographs each program's main screens for the README: the real programs,
# built in build/ (or BUILD_DIR), against a demo store, under a virtual X server.
#   scripts/screenshots.sh [OUTPUT_DIR]     (default docs/screens)
# Run it again whenever the screens change.
set -euo pipefail
cd "$(dirname "$0")/.."

out=${1:-docs/screens}
build=${BUILD_DIR:-build}
display=${SCREENSHOT_DISPLAY:-:91}
port=${SCREENSHOT_PORT:-18791}
for tool in Xvfb xdotool import; do
  command -v "$tool" >/dev/null || { echo "screenshots: $tool is missing; run scripts/setup-deps.sh screenshots" >&2; exit 1; }
done
for program in server/storeserver sellin/sellin adoptra/adoptra stipendo/stipendo; do
  [ -x "$build/$program" ] || { echo "screenshots: no $build/$program; build first" >&2; exit 1; }
done

work=$(mktemp -d)
pids=()
cleanup() {
  # Programs first, the X server last, so nothing dies for want of a display.
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$out"
export DISPLAY=$display

Xvfb "$DISPLAY" -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
pids+=($!)
"$build/server/storeserver" --database "$work/store.db" --demo --port "$port" >"$work/server.log" 2>&1 &
pids+=($!)

# Waits (up to 20 s) for a visible window other than the one given, lets the
# program settle and prints its newest window's id.
newest_window() { xdotool search --onlyvisible --name . 2>/dev/null | grep -vx "${1:-none}" | sort -n | tail -1; }
wait_window() {
  for _ in $(seq 200); do
    if [ -n "$(newest_window "${1:-}")" ]; then
      sleep 1
      newest_window "${1:-}"
      return
    fi
    sleep 0.1
  done
  echo "screenshots: no new window appeared" >&2
  return 1
}

visible_windows() { xdotool search --onlyvisible --name . 2>/dev/null | sort -n; }

# The window the keys opened: one not visible before them (up to 5 s), else the
# newest other one, such as a window shown again when a dialog closes. Dialogs
# stand over their owner, so the owner stays visible under each new one.
next_window() {
  local current=$1 before=$2 new
  for _ in $(seq 50); do
    new=$(visible_windows | grep -vxF -e "$before" | tail -1)
    if [ -n "$new" ]; then
      sleep 1
      echo "$new"
      return
    fi
    sleep 0.1
  done
  wait_window "$current"
}

shot() {
  import -window "$1" "$out/$2.png"
  echo "screenshots: $out/$2.png"
}

# Starts a program with the user's password kept in a scratch profile, then
# for each step "NAME KEYS...": photographs the newest window as NAME, presses
# the keys there and waits for the window they open; keys ending in "stay"
# change the same window, which is photographed again by the next step.
photograph() {
  local program=$1 section=$2 user=$3 password=$4
  shift 4
  local profile="$work/$program-profile"
  mkdir -p "$profile/OST_PDA"
  printf '[%s]\nUserName=%s\nPassword=%s\nKeepPassword=1\n[Sellin]\nBuyerUser=buyer\nBuyerPass=buyer1\nStoreNum=1\n' \
    "$section" "$user" "$password" >"$profile/OST_PDA/OST.ini"
  "$build/$program/$program" --server "http://127.0.0.1:$port" --profile-dir "$profile" --scale 2 \
    >"$work/$program.log" 2>&1 &
  local pid=$! window
  pids+=("$pid")
  window=$(wait_window)
  for step in "$@"; do
    read -r name keys <<<"$step"
    shot "$window" "$program-$name"
    [ -n "$keys" ] || continue
    local stay=false
    [[ $keys == *" stay" ]] && { stay=true; keys=${keys% stay}; }
    # No window manager runs: give the window the focus directly.
    local before
    before=$(visible_windows)
    xdotool windowfocus --sync "$window" key --delay 100 $keys
    if $stay; then sleep 1; else window=$(next_window "$window" "$before"); fi
  done
  kill "$pid"
}

for _ in $(seq 100); do grep -q "listening on" "$work/server.log" && break; sleep 0.1; done
photograph stipendo Stipendo clerk clerk1 "start Tab space" "lookup S 1 0 0 3 0 0 Return stay" "accounts"
photograph adoptra Adoptra clerk clerk1 "start Tab space" "lookup"
photograph sellin Sellin buyer buyer1 "login Return" "sessions Return" "start Tab space" \
  "student S 1 0 0 2 0 0 Return" "ticket"
