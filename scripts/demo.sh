#!/usr/bin/env bash
# Sets up, builds, starts an emulated lab of four device servers on loopback and opens
# the server manager against it with a fresh registry hive, then shows the port status
# of three servers, runs the port tests of one, and carries bytes through a server port
# made a local serial device by the port bridge; the lab is stopped on exit.
#
#   scripts/demo.sh [LAB.json]
#
# With a display ($DISPLAY or $WAYLAND_DISPLAY) the manager opens as a normal window.
# Without one it runs offscreen for a few seconds and saves a picture of its main
# window to $build/screenshots/demo/srvmanager.png.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${ZELIN_DEMO_BUILD:-$root/build-demo}"
if [ "${ZELIN_DEMO_SKIP_BUILD:-0}" != 1 ]; then  # 1: use the programs already in $build
  "$root/scripts/setup.sh"
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZELIN_TESTS=OFF >/dev/null
  cmake --build "$build" -j"$(nproc)" --target devsim zelinctl srvmanager monitor portcheck portbridge
fi

# Loopback only: the transport refuses anything outside 127.0.0.0/8.
export ZELIN_LOOPBACK_ONLY=1
export ZELIN_INTERFACES=127.0.43.1
export ZELIN_BROADCAST=127.0.43.255
lab="${1:-$root/emulator/labs/manager-demo.json}"

# A fresh hive: three of the lab's servers are configured ("Spare Bay" is left for the
# Add Server Wizard), the installation type is Multi-Host.
demo="$build/demo"
mkdir -p "$demo"
export ZELIN_REGISTRY="$demo/registry.reg"
export ZELIN_RUNTIME_DIR="$demo"
rm -f "$ZELIN_REGISTRY" "$ZELIN_REGISTRY.changed"

hexname() { printf '%s' "$1" | od -An -tx1 | tr -s ' \n' ',' | sed 's/^,//; s/,$//'; }
server_key() {  # number type serial name last-octet ports [first COM number: ports mapped]
  local n=$1 type=$2 serial=$3 name=$4 octet=$5 ports=$6 com=${7:-0} p
  printf '[HKEY_LOCAL_MACHINE\\SoftWare\\KIVO\\Zelin\\Parameters\\Server%d]\n' "$n"
  printf '"DeviceType"=dword:%08x\n"ServerFlag"=dword:00000000\n"SerialNo"=dword:%08x\n' "$type" "$serial"
  printf '"ServerName"=hex:%s\n' "$(hexname "$name")"
  printf '"IPAddress"=dword:7f002b%02x\n"Netmask"=dword:00ffffff\n\n' "$octet"
  for ((p = 0; p < ports; p++)); do
    printf '[HKEY_LOCAL_MACHINE\\SoftWare\\KIVO\\Zelin\\Parameters\\Server%d\\Port%04d]\n' "$n" "$p"
    printf '"PortDriver"="Ports\\\\%04d"\n"COM"=dword:%08x\n"PortFlag"=dword:%08x\n' \
      "$(( (n - 1) * 16 + p ))" "$(( com ? com + p : 0 ))" "$(( com ? 1 : 0 ))"
    printf '"Transmission"=dword:00000000\n"FIFO"=dword:00000000\n\n'
  done
}
{
  printf 'REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SoftWare\\KIVO\\Zelin\\Parameters]\n'
  printf '"Servers"=dword:00000003\n"Ports"=dword:00000028\n"SessionRecovery"=dword:00000001\n\n'
  server_key 1 771 1201 "Dock North" 10 16
  server_key 2 771 1202 "Dock South" 11 16
  server_key 3 9480 3307 "Workshop" 12 8
} >"$ZELIN_REGISTRY"
"$build/tools/zelinctl/zelinctl" store set-type 2

# devsim prints one "ready" line per server and a last "ready broadcast=..." line once
# every socket is bound; the lab is used only after that line (or gives up after 10 s).
devsim_out="$demo/devsim.out"
: >"$devsim_out"
"$build/emulator/devsim" --lab "$lab" --broadcast "$ZELIN_BROADCAST" >"$devsim_out" &
devsim=$!
trap 'kill "$devsim" 2>/dev/null; wait "$devsim" 2>/dev/null || true' EXIT
for ((tick = 0; ; tick++)); do
  if grep -q '^ready broadcast=' "$devsim_out"; then break; fi
  if ! kill -0 "$devsim" 2>/dev/null; then
    echo "demo: devsim ended before it was ready:" >&2
    cat "$devsim_out" >&2
    exit 1
  fi
  if ((tick >= 100)); then
    echo "demo: devsim not ready after 10 s" >&2
    exit 1
  fi
  sleep 0.1
done
grep '^ready' "$devsim_out"
"$build/tools/zelinctl/zelinctl" search

manager="$build/srvmanager/gui/srvmanager"
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  "$manager"
else
  shot="$build/screenshots/demo/srvmanager.png"
  echo "demo: no display; running the manager offscreen for a few seconds"
  QT_QPA_PLATFORM=offscreen ZELIN_SCREENSHOT="$shot" ZELIN_SCREENSHOT_AFTER=3 "$manager"
  echo "demo: picture of the manager's main window: $shot"
fi

# What the port status monitor and the diagnostic program see of the same lab, as
# zelinctl prints it: two samples of the port status, then the port tests of one server.
zelinctl="$build/tools/zelinctl/zelinctl"
echo "demo: port status of three servers (two samples, 1 s apart)"
"$zelinctl" monitor 1201@127.0.43.10/1-4 1202@127.0.43.11/1-2 3307@127.0.43.12/1-2 \
  --interval 1 --count 2 --csv
echo "demo: port tests of Workshop (127.0.43.12)"
"$zelinctl" diag 127.0.43.12 --quiet --report "$demo/diag-report.txt" || true
cat "$demo/diag-report.txt"

# The port bridge: Dock North's ports 1 and 2 mapped to COM5 and COM6 (a store of their
# own, so the manager's hive above stays as the manager left it). The lab's serial ports
# loop back what they receive, so what goes into COM5 comes back out of it.
echo "demo: the port bridge makes Dock North's ports 1 and 2 the local devices COM5 and COM6"
bridge_store="$demo/bridge.reg"
{
  printf 'REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SoftWare\\KIVO\\Zelin\\Parameters]\n'
  printf '"Servers"=dword:00000001\n"Ports"=dword:00000002\n"SessionRecovery"=dword:00000001\n\n'
  server_key 1 771 1201 "Dock North" 10 2 5
} >"$bridge_store"
ttys="$demo/tty"
"$build/bridge/portbridge" --store "$bridge_store" --dir "$ttys" 2>"$demo/portbridge.log" &
bridge=$!
trap 'kill "$bridge" "$devsim" 2>/dev/null; wait "$bridge" "$devsim" 2>/dev/null || true' EXIT
for ((tick = 0; tick < 50; tick++)); do
  [ "$(grep -o '"state": *"connected"' "$ttys/bridge-state.json" 2>/dev/null | wc -l)" = 2 ] && break
  sleep 0.1
done
"$zelinctl" bridge status --state "$ttys/bridge-state.json"
stty -F "$ttys/COM5" 19200 cs8 raw -echo
exec 3<>"$ttys/COM5"
printf 'hello through COM5\n' >&3
if IFS= read -r -t 3 answer <&3; then
  echo "demo: COM5 (19200 baud, set with stty) answered: $answer"
else
  echo "demo: COM5 gave no answer; the bridge's log: $demo/portbridge.log" >&2
fi
exec 3<&-
