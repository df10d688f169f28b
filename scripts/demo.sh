#!/usr/bin/env bash
# Sets up, builds, starts an emulated lab of three device servers on loopback and
# runs the suite against it; the lab is stopped on exit.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/setup.sh"
build="${ZELIN_DEMO_BUILD:-$root/build-demo}"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZELIN_TESTS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target devsim zelinctl

export ZELIN_LOOPBACK_ONLY=1
export ZELIN_INTERFACES=127.0.42.1
export ZELIN_BROADCAST=127.0.42.255
lab="${1:-$root/emulator/labs/demo.json}"

# devsim prints a "ready" line per server and then "ready broadcast=..." once every
# socket is bound; wait for that line (at most 10 s) instead of guessing.
ready="$(mktemp)"
"$build/emulator/devsim" --lab "$lab" --broadcast "$ZELIN_BROADCAST" >"$ready" &
devsim=$!
trap 'kill "$devsim" 2>/dev/null; wait "$devsim" 2>/dev/null || true; rm -f "$ready"' EXIT
for _ in $(seq 100); do
  grep -q '^ready broadcast=' "$ready" && break
  kill -0 "$devsim" 2>/dev/null || { echo "devsim did not start" >&2; exit 1; }
  sleep 0.1
done
grep -q '^ready broadcast=' "$ready" || { echo "devsim is not ready after 10 s" >&2; exit 1; }
cat "$ready"
"$build/tools/zelinctl/zelinctl" search
