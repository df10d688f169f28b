#!/usr/bin/env bash
# Builds the fuzzers with clang (build-fuzz/, -DZELIN_FUZZ=ON) and runs each one, one
# at a time, for SECONDS (default 10) from its seeds in fuzz/corpus/<name>/. New inputs
# go to build-fuzz/corpus/<name>/ (the seeds in the tree stay as they are). A crash,
# hang, leak or broken invariant stops with a non-zero exit, its input kept under
# fuzz/crashes/<name>/. FUZZERS="a b" runs only those; FUZZ_JOBS sets the build's -j.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
seconds="${1:-10}"
build="${ZELIN_FUZZ_BUILD:-$root/build-fuzz}"
if ! command -v clang++ >/dev/null; then
  echo "fuzz: clang++ is missing; run scripts/setup.sh --fuzz" >&2
  exit 1
fi
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DZELIN_FUZZ=ON -DZELIN_GUI=OFF -DZELIN_TESTS=OFF -DZELIN_BENCH=OFF -DZELIN_WERROR=ON >/dev/null
cmake --build "$build" -j"${FUZZ_JOBS:-2}" --target zelin_fuzzers
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
failed=()
for name in ${FUZZERS:-$(cat "$build/fuzzers.txt")}; do
  corpus="$build/corpus/$name"
  crashes="$root/fuzz/crashes/$name"
  mkdir -p "$corpus" "$crashes"
  echo "fuzz: $name for ${seconds}s"
  if ! "$build/fuzz/fuzz_$name" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$crashes/" \
        "$corpus" "$root/fuzz/corpus/$name" >"$build/$name.log" 2>&1; then
    tail -n 40 "$build/$name.log" >&2
    failed+=("$name")
  fi
  grep -E '^#[0-9]+[[:space:]]+DONE|stat::(number_of_executed_units|average_exec_per_sec)' \
       "$build/$name.log" || true
  rmdir "$crashes" 2>/dev/null || true
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz: failed: ${failed[*]} (inputs under fuzz/crashes/)" >&2
  exit 1
fi
echo "fuzz: every harness ran clean"
