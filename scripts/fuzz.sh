#!/usr/bin/env bash
# Builds the fuzz targets with clang's libFuzzer in build-fuzz/ and runs each
# for the given number of seconds, one after another.
#   scripts/fuzz.sh SECONDS [TARGET...]     (targets: envelope framing json_reader exchange)
# New corpus entries stay in build-fuzz/corpus/; a crash is written to
# tests/fuzz/crashes/TARGET/, where the replay test picks it up once committed.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:?usage: scripts/fuzz.sh SECONDS [TARGET...]}
shift
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(envelope framing json_reader exchange)
command -v clang++ >/dev/null || { echo "fuzz.sh: clang++ is not installed" >&2; exit 1; }

build=build-fuzz
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
  -DSTORE_FUZZ=ON -DSTORE_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j 2 --target "${targets[@]/%/_fuzz}"

status=0
for target in "${targets[@]}"; do
  corpus="$build/corpus/$target"
  crashes="tests/fuzz/crashes/$target"
  mkdir -p "$corpus" "$crashes"
  log="$build/$target.log"
  options=()
  # The exchange target keeps the server's state between runs: libFuzzer's leak check after every run that
  # allocated more than it freed, and its entropic weighing of the server's many features, would each take
  # about as long as the run itself. Leaks are still checked when the target exits.
  [ "$target" != exchange ] || options=(-entropic=0 -detect_leaks=0)
  if "$build/tests/fuzz/${target}_fuzz" "$corpus" "tests/fuzz/corpus/$target" "${options[@]}" \
      -max_total_time="$seconds" -artifact_prefix="$crashes/" -print_final_stats=1 >"$log" 2>&1; then
    echo "$target: $(grep -m1 -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$') runs, no crash"
  else
    echo "$target: FAILED, see $log and $crashes/"
    status=1
  fi
done
exit $status
