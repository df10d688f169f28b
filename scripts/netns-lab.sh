#!/usr/bin/env bash
# A network of its own for tests: two network namespaces joined by two veth pairs, one
# subnet each, isolated from every real network (nothing but loopback and veth, no
# default route, nothing in the host's own namespace).
#
#   server namespace <name>s            client namespace <name>c
#     va1 10.77.1.2, servers .10-.19  <->  vb1 10.77.1.1/24
#     va2 10.77.2.2, servers .10-.19  <->  vb2 10.77.2.1/24
#
# Usage:
#   netns-lab.sh run [--devsim PATH] [--lab FILE] -- COMMAND [ARG...]
#       makes the namespaces (named zlab<pid>), starts devsim with the lab (default
#       emulator/labs/netns.json) in the server namespace, runs COMMAND in the client
#       namespace without ZELIN_BROADCAST, ZELIN_INTERFACES and ZELIN_LOOPBACK_ONLY, and
#       removes everything on exit, also on failure, Ctrl-C or SIGTERM. COMMAND finds
#       the server namespace's name in ZELIN_NETNS_SERVER (for ip -n ... link set va2
#       down, say). The exit status is COMMAND's.
#   netns-lab.sh up NAME        makes the namespaces NAMEs and NAMEc (no devsim)
#   netns-lab.sh down NAME      removes them and whatever runs in them
#   netns-lab.sh reap           removes the namespaces of labs whose owner has died
#   netns-lab.sh check          exits 0 when namespaces can be made here, else says why
#
# Names are zlab<pid of the owner>[sc]; every "up" and "run" first reaps the names of
# owners that are gone (a run killed with SIGKILL leaves its namespaces behind).
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
subnets=(1 2)

die() { echo "netns-lab: $*" >&2; exit 2; }

check() {
  command -v ip >/dev/null 2>&1 || { echo "the ip command (iproute2) is not installed"; return 1; }
  [ "$(id -u)" = 0 ] || { echo "network namespaces need root (CAP_NET_ADMIN, CAP_SYS_ADMIN)"; return 1; }
  local probe="zlab$$p"
  if ! err=$(ip netns add "$probe" 2>&1); then
    echo "cannot make a network namespace: $err"
    return 1
  fi
  # Working inside one takes a mount namespace of its own as well ("ip -n" and
  # "ip netns exec" remount /sys), which fails where / is no mount point (a chroot).
  if ! err=$(ip -n "$probe" link set lo up 2>&1); then
    ip netns del "$probe" >/dev/null 2>&1 || true
    echo "cannot work inside a network namespace: $(printf '%s\n' "$err" | head -n 1)"
    return 1
  fi
  ip netns del "$probe" >/dev/null 2>&1 || true
}

down() {
  local name="$1" ns pid
  for ns in "${name}s" "${name}c"; do
    [ -e "/run/netns/$ns" ] || continue
    for pid in $(ip netns pids "$ns" 2>/dev/null); do kill -KILL "$pid" 2>/dev/null || true; done
    ip netns del "$ns" 2>/dev/null || true
  done
}

reap() {
  local f ns owner
  [ -d /run/netns ] || return 0
  for f in /run/netns/zlab[0-9]*; do
    [ -e "$f" ] || continue
    ns="${f##*/}"
    owner="${ns#zlab}"
    owner="${owner%[scp]}"
    if ! kill -0 "$owner" 2>/dev/null; then down "zlab$owner"; fi
  done
}

up() {
  local name="$1" s="${1}s" c="${1}c" n host
  reap
  ip netns add "$s"
  ip netns add "$c" || { down "$name"; return 1; }
  {
    ip -n "$s" link set lo up
    ip -n "$c" link set lo up
    for n in "${subnets[@]}"; do
      # Made inside the server namespace with its peer straight in the client one:
      # neither end ever exists in the host's namespace.
      ip -n "$s" link add "va$n" type veth peer name "vb$n" netns "$c"
      ip -n "$s" addr add "10.77.$n.2/24" dev "va$n"
      for host in $(seq 10 19); do ip -n "$s" addr add "10.77.$n.$host/24" dev "va$n"; done
      ip -n "$c" addr add "10.77.$n.1/24" dev "vb$n"
      ip -n "$s" link set "va$n" up
      ip -n "$c" link set "vb$n" up
    done
  } || { down "$name"; return 1; }
}

run() {
  local devsim="${DEVSIM:-}" lab="$root/emulator/labs/netns.json"
  while [ $# -gt 0 ]; do
    case "$1" in
      --devsim) devsim="$2"; shift 2 ;;
      --lab) lab="$2"; shift 2 ;;
      --) shift; break ;;
      *) die "unknown option $1" ;;
    esac
  done
  [ $# -gt 0 ] || die "run needs a command after --"
  if [ -z "$devsim" ]; then
    devsim="$root/build-test/emulator/devsim"
    [ -x "$devsim" ] || devsim="$(command -v devsim || true)"
  fi
  [ -x "$devsim" ] || die "devsim not found (give --devsim or DEVSIM)"
  local why
  why=$(check) || die "$why"

  # Globals: the exit trap runs after this function has returned.
  lab_name="zlab$$"
  lab_out="$(mktemp)"
  trap 'down "$lab_name"; rm -f "$lab_out"' EXIT
  local name="$lab_name" out="$lab_out"
  trap 'exit 143' TERM
  trap 'exit 130' INT
  up "$name"
  ip netns exec "${name}s" "$devsim" --lab "$lab" >"$out" 2>&1 &
  local devsim_pid=$! waited=0
  disown "$devsim_pid"  # stopped by "down"; no job report for it
  until grep -q '^ready broadcast=' "$out"; do
    if ! kill -0 "$devsim_pid" 2>/dev/null || [ "$waited" -ge 300 ]; then
      cat "$out" >&2
      die "devsim did not start in ${name}s"
    fi
    sleep 0.1
    waited=$((waited + 1))
  done
  local status=0
  ip netns exec "${name}c" env -u ZELIN_BROADCAST -u ZELIN_INTERFACES -u ZELIN_LOOPBACK_ONLY \
    ZELIN_NETNS_SERVER="${name}s" "$@" &
  wait $! || status=$?
  return "$status"
}

case "${1:-}" in
  run) shift; run "$@" ;;
  up) [ $# = 2 ] || die "usage: netns-lab.sh up NAME"; up "$2" ;;
  down) [ $# = 2 ] || die "usage: netns-lab.sh down NAME"; down "$2" ;;
  reap) reap ;;
  check) check ;;
  *) sed -n '2,30p' "$0" | sed 's/^# \{0,1\}//'; exit 2 ;;
esac
