#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan + UBSan) in build/fuzz and runs
# each for the given number of seconds (default 60). Usage: fuzz.sh [seconds] [target...]
# With FUZZ_RUNS=N in the environment each target runs N inputs instead. Each
# target prints its time, executions and the coverage reached.
# The corpus of each target is kept in build/fuzz/corpus/<target>, seeded from
# fuzz/corpus/<target> when that exists; crashes are written to build/fuzz/crashes/.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
seconds="${1:-60}"
shift || true
build="$root/build/fuzz"
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DPARLEYM_FUZZ=ON -DPARLEYM_BUILD_TESTS=OFF >/dev/null
mapfile -t targets < <(if [ $# -gt 0 ]; then printf '%s\n' "$@"; else grep -v '^$' "$build/fuzz-targets.txt"; fi)
cmake --build "$build" -j2 --target "${targets[@]}" -- --no-print-directory
mkdir -p "$build/crashes"
# Leaks inside libraries we do not own (see the file) are not ours to find.
export LSAN_OPTIONS="suppressions=$root/fuzz/lsan.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
status=0
for target in "${targets[@]}"; do
  corpus="$build/corpus/$target"
  mkdir -p "$corpus"
  seeds=()
  [ -d "$root/fuzz/corpus/$target" ] && seeds=("$root/fuzz/corpus/$target")
  if [ -n "${FUZZ_RUNS:-}" ]; then
    limit=(-runs="$FUZZ_RUNS")
    echo "== $target: $FUZZ_RUNS runs"
  else
    limit=(-max_total_time="$seconds")
    echo "== $target: ${seconds}s"
  fi
  started=$SECONDS
  if ! "$build/fuzz/$target" "${limit[@]}" -print_final_stats=1 \
      -artifact_prefix="$build/crashes/$target-" "$corpus" "${seeds[@]}" 2>"$build/$target.log"; then
    echo "$target: FAILED after $((SECONDS - started))s (see $build/$target.log)"
    tail -n 30 "$build/$target.log"
    status=1
  else
    echo "$target: seconds: $((SECONDS - started))"
    # The last progress line carries the coverage reached (cov: edges, ft: features).
    grep -E '^#[0-9]+' "$build/$target.log" | tail -n 1 | sed "s/^/$target: /"
    grep -E 'stat::number_of_executed_units|stat::new_units_added|stat::average_exec_per_sec' "$build/$target.log" | sed "s/^/$target: /"
  fi
done
exit $status
