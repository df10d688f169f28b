#!/usr/bin/env bash
# Installs the Debian packages the suite needs. Quick when they are already there.
# With --fuzz (or ZELIN_SETUP_FUZZ=1) also clang and libFuzzer, for scripts/fuzz.sh.
# With --interop (or ZELIN_SETUP_INTEROP=1) also ser2net, socat and pyserial (python3-serial):
# the serial-port tests against peers we did not write (tests/support/ser2net_fixture.hpp,
# tests/bridge/pyserial_test.cpp), and iproute2 for the network-namespace lab of the
# real-network tests and the bridge's dead-link test (scripts/netns-lab.sh).
# With --package (or ZELIN_SETUP_PACKAGE=1) the tools scripts/package.sh needs.
# With --prometheus (or ZELIN_SETUP_PROMETHEUS=1) also Debian's Prometheus server and promtool:
# the exporter's tests run a Prometheus of their own against it (tests/exporter/).
set -euo pipefail
# scdoc builds the man pages; the others check the installed tree in the install test.
packages=(cmake g++ make pkg-config libgtest-dev libgmock-dev libbenchmark-dev libmd-dev
          nlohmann-json3-dev qt6-base-dev libgl-dev scdoc desktop-file-utils appstream groff-base
          libmicrohttpd-dev)
fuzz="${ZELIN_SETUP_FUZZ:-0}"
interop="${ZELIN_SETUP_INTEROP:-0}"
package="${ZELIN_SETUP_PACKAGE:-0}"
prometheus="${ZELIN_SETUP_PROMETHEUS:-0}"
for arg in "$@"; do
  case "$arg" in
    --fuzz) fuzz=1 ;;
    --interop) interop=1 ;;
    --package) package=1 ;;
    --prometheus) prometheus=1 ;;
    *) echo "setup: unknown option $arg (known: --fuzz, --interop, --package, --prometheus)" >&2; exit 2 ;;
  esac
done
if [ "$fuzz" = "1" ]; then
  # The sanitizer runtime is only a recommendation of clang: name it, or the fuzzers'
  # link fails on a machine that never installed clang with its recommendations.
  packages+=(clang libfuzzer-14-dev libclang-rt-14-dev)
fi
if [ "$interop" = "1" ]; then
  packages+=(ser2net socat python3-serial iproute2)
fi
if [ "$package" = "1" ]; then
  packages+=(dpkg-dev file)
fi
if [ "$prometheus" = "1" ]; then
  packages+=(prometheus)  # ships promtool too
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO=sudo
  $SUDO apt-get update
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi
