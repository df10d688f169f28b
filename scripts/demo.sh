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

"$build/emulator/devsim" --lab "$lab" --broadcast "$ZELIN_BROADCAST" &
devsim=$!
trap 'kill "$devsim" 2>/dev/null; wait "$devsim" 2>/dev/null || true' EXIT
sleep 0.3
"$build/tools/zelinctl/zelinctl" search
