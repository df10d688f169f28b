#!/usr/bin/env bash
# Builds the fuzzers with clang (build-fuzz/, -DZELIN_FUZZ=ON) and runs each one, one
# at a time, for SECONDS (default 10) from its seeds in fuzz/corpus/<name>/. New inputs
# go to build-fuzz/corpus/<name>/ (the seeds in the tree stay as they are). A crash,
# hang, leak or broken invariant stops with a non-zero exit, its input kept under
# fuzz/crashes/<name>/. FUZZERS="a b" runs only those; FUZZ_JOBS sets the build's -j.
#
# --long [SECONDS] is the run to make before a change to a parser lands: SECONDS
# (default 300) for each harness, and a closing table of how long each ran and how many
# inputs it tried, also kept in build-fuzz/summary.txt. The smoke run of the test
# command (5 s each) only shows that every harness starts.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
long=0
if [ "${1:-}" = "--long" ]; then long=1; shift; fi
seconds="${1:-$([ "$long" = 1 ] && echo 300 || echo 10)}"
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
summary="$build/summary.txt"
: >"$summary"
for name in ${FUZZERS:-$(cat "$build/fuzzers.txt")}; do
  corpus="$build/corpus/$name"
  crashes="$root/fuzz/crashes/$name"
  mkdir -p "$corpus" "$crashes"
  echo "fuzz: $name for ${seconds}s"
  verdict=clean
  if ! "$build/fuzz/fuzz_$name" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$crashes/" \
        "$corpus" "$root/fuzz/corpus/$name" >"$build/$name.log" 2>&1; then
    tail -n 40 "$build/$name.log" >&2
    failed+=("$name")
    verdict=FAILED
  fi
  grep -E '^#[0-9]+[[:space:]]+DONE|stat::(number_of_executed_units|average_exec_per_sec)' \
       "$build/$name.log" || true
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$build/$name.log" | tail -n 1)
  printf '%-14s %6ss %12s runs  %s\n' "$name" "$seconds" "${runs:-?}" "$verdict" >>"$summary"
  rmdir "$crashes" 2>/dev/null || true
done
if [ "$long" = 1 ]; then
  echo "fuzz: $(date -u '+%Y-%m-%d %H:%M UTC'), load $(cut -d' ' -f1-3 /proc/loadavg)"
  cat "$summary"
fi
if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz: failed: ${failed[*]} (inputs under fuzz/crashes/)" >&2
  exit 1
fi
echo "fuzz: every harness ran clean"
