#!/usr/bin/env bash
# Sets up the machine, builds the sanitized test build and runs every test. Warnings
# are errors here: in the test build, and in a plain default (optimised) build that is
# only compiled, because some compiler warnings appear only with optimisation.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
# ZELIN_TEST_FUZZ=0 leaves out the fuzzing smoke run at the end.
fuzz="${ZELIN_TEST_FUZZ:-1}"
if [ "$fuzz" = "1" ]; then "$root/scripts/setup.sh" --fuzz --interop --prometheus; else "$root/scripts/setup.sh" --interop --prometheus; fi
build="${ZELIN_TEST_BUILD:-$root/build-test}"
release="${ZELIN_RELEASE_BUILD:-$root/build-release}"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Debug -DZELIN_SANITIZE=ON -DZELIN_TESTS=ON \
      -DZELIN_BENCH=OFF -DZELIN_WERROR=ON >/dev/null
cmake --build "$build" -j"$(nproc)"
# The default configuration (no build type given), as a user builds it.
cmake -S "$root" -B "$release" -DZELIN_WERROR=ON >/dev/null
cmake --build "$release" -j"$(nproc)"
# Network safety: every test talks only to loopback addresses.
export ZELIN_LOOPBACK_ONLY=1
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
# The real-network tests (tests/netns) need network namespaces (root); say whether they run.
if why=$("$root/scripts/netns-lab.sh" check); then
  echo "test: the network-namespace tests run (real broadcasts between two veth subnets)"
else
  echo "test: the network-namespace tests are SKIPPED: $why"
fi
(cd "$build" && ctest --output-on-failure -j"$(nproc)" --timeout 300)
# Smoke run of every fuzzer (clang build in build-fuzz/, a few seconds each).
if [ "$fuzz" = "1" ]; then
  FUZZ_JOBS="$(nproc)" "$root/scripts/fuzz.sh" "${ZELIN_TEST_FUZZ_SECONDS:-5}"
fi
