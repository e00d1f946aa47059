#!/usr/bin/env bash
# Installs what is missing, builds everything from scratch in build-tests/ and
# runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup-deps.sh test
build=${STORE_TEST_BUILD_DIR:-build-tests}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$(nproc)"
export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$build" --output-on-failure -j "$(nproc)" --timeout 300
