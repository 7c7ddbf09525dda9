#!/usr/bin/env bash
# The main job on a network of its own: simulated NAS devices and the finder
# in private network namespaces joined by a bridge, the search, what it found.
# Every namespace and process it makes is removed on the way out, also after
# a failure or Ctrl-C. Nothing it sends can reach the machine's network.
#
# Usage: scripts/demo.sh [BUILD_DIR]   (as root; installs and builds what is missing)
#        scripts/demo.sh --check      only checks that the demo can run here
set -euo pipefail
cd "$(dirname "$0")/.."

say() { printf '%s\n' "$*"; }
fail() { printf 'demo: %s\n' "$*" >&2; exit 1; }

[ "$(id -u)" -eq 0 ] || fail "needs root to create network namespaces; run it as root, e.g. 'sudo scripts/demo.sh'"
command -v ip >/dev/null || fail "needs the ip command (Debian package iproute2)"
[ "${1:-}" = "--check" ] && exit 0

build=${1:-${NASSCOUT_BUILD_DIR:-build}}
cli=$build/tools/cli/nasscout-cli
sim=$build/tools/sim/nasscout-sim
if [ ! -x "$cli" ] || [ ! -x "$sim" ]; then
  scripts/install-deps.sh
  [ -f "$build/build.ninja" ] || cmake -S . -B "$build" -G Ninja
  cmake --build "$build" --target nasscout-cli nasscout-sim
fi

prefix=nasscout-demo-$$
lan=$prefix-lan        # holds the bridge
finder=$prefix-finder  # runs nasscout-cli
shelf=$prefix-shelf    # four devices that stay
leaver=$prefix-leaver  # one device that says bye-bye during the search
namespaces=()
pids=()
work=$(mktemp -d /tmp/nasscout-demo.XXXXXX)

cleanup() {
  local status=$?
  trap - EXIT INT TERM
  for pid in "${pids[@]}"; do kill -TERM "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    if kill -0 "$pid" 2>/dev/null; then kill -KILL "$pid" 2>/dev/null || true; fi
    wait "$pid" 2>/dev/null || true
  done
  for namespace in "${namespaces[@]}"; do
    # Whatever still runs inside one of our namespaces was started by us.
    for pid in $(ip netns pids "$namespace" 2>/dev/null); do kill -KILL "$pid" 2>/dev/null || true; done
    ip netns delete "$namespace" 2>/dev/null || true
  done
  rm -rf "$work"
  if ip netns list | grep -q "^$prefix-"; then
    say "demo: could not remove every namespace: $(ip netns list | grep "^$prefix-" | tr '\n' ' ')" >&2
    status=1
  fi
  exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

add_namespace() {
  ip netns add "$1"
  namespaces+=("$1")
  ip -n "$1" link set lo up
}

# Plugs namespace $1 into the bridge as eth0 with the addresses that follow.
# The default route makes limited broadcasts and multicasts leave by eth0.
ports=0
connect() {
  local namespace=$1 port="port$((ports += 1))"
  shift
  ip -n "$lan" link add "$port" type veth peer name eth0 netns "$namespace"
  ip -n "$lan" link set "$port" master br0 up
  local address
  for address in "$@"; do ip -n "$namespace" addr add "$address" dev eth0; done
  ip -n "$namespace" link set eth0 up
  ip -n "$namespace" route add default dev eth0
}

# Waits up to $3 seconds for the line $2 in the file $1.
wait_for_line() {
  local deadline=$((SECONDS + $3))
  until grep -q -- "$2" "$1" 2>/dev/null; do
    [ "$SECONDS" -lt "$deadline" ] || return 1
    sleep 0.1
  done
}

# Starts nasscout-sim in namespace $1 with the devices that follow (--device
# texts), output in $work/$1.out; sets sim_pid once the devices are announced.
start_sim() {
  local namespace=$1 device arguments=()
  shift
  for device in "$@"; do arguments+=(--device "$device"); done
  ip netns exec "$namespace" "$sim" "${arguments[@]}" >"$work/$namespace.out" 2>&1 &
  sim_pid=$!
  pids+=("$sim_pid")
  wait_for_line "$work/$namespace.out" "nasscout-sim: ready" 10 ||
    fail "nasscout-sim did not start in $namespace: $(cat "$work/$namespace.out")"
}

# Ends one of our processes with SIGTERM and forgets it, so that the cleanup
# never signals a number the system may have handed out again.
forget() {
  local kept=() pid
  for pid in "${pids[@]}"; do [ "$pid" = "$1" ] || kept+=("$pid"); done
  pids=("${kept[@]}")
}
stop() {
  kill -TERM "$1" 2>/dev/null || true
  wait "$1" 2>/dev/null || true
  forget "$1"
}

say "== A private network: namespaces $prefix-*, bridge br0, addresses 198.51.100.0/24"
add_namespace "$lan"
ip -n "$lan" link add br0 type bridge mcast_snooping 0
ip -n "$lan" link set br0 up
add_namespace "$finder"
add_namespace "$shelf"
add_namespace "$leaver"
connect "$finder" 198.51.100.1/24
connect "$shelf" 198.51.100.10/24 198.51.100.11/24 198.51.100.12/24 198.51.100.13/24
connect "$leaver" 198.51.100.20/24

atlas="ip=198.51.100.10,id=zv-1001,host=atlas,vendor=ZORVA,product=NS200,detail=A1,version=2.1.0"
vault="ip=198.51.100.11,id=qd-2002,host=vault,vendor=quenda,product=QX4,detail=rack,version=4.0.1"
cellar="ip=198.51.100.12,id=tv-3003,host=cellar,vendor=TAVIRO,product=T2,detail=home,version=1.7"
attic="ip=198.51.100.13,id=ob-4004,host=attic,vendor=OBRANDA,product=OB1,detail=x,version=0.9"
courier="ip=198.51.100.20,id=bm-5005,host=courier,vendor=BELMIR4,product=B4-Mini,detail=travel,version=3.3"

say "== Five simulated NAS devices (nasscout-sim)"
say "   atlas   198.51.100.10  ZORVA"
say "   vault   198.51.100.11  quenda   (lower case: accepted as QUENDA)"
say "   cellar  198.51.100.12  TAVIRO"
say "   attic   198.51.100.13  OBRANDA  (not an accepted vendor)"
say "   courier 198.51.100.20  BELMIR4  (leaves with a bye-bye 4 s into the search)"
start_sim "$shelf" "$atlas" "$vault" "$cellar" "$attic"
start_sim "$leaver" "$courier"
courier_pid=$sim_pid

say ""
say "== nasscout-cli in the finder: one search pass, 11 s search window"
ip netns exec "$finder" "$cli" --quiet >"$work/found.txt" &
cli_pid=$!
pids+=("$cli_pid")
sleep 4
stop "$courier_pid"
say "   (courier said bye-bye)"
wait "$cli_pid" || fail "nasscout-cli ended with status $?"
forget "$cli_pid"
say ""
cat "$work/found.txt"
say ""

for id in zv-1001 qd-2002 tv-3003; do
  grep -q -- "$id" "$work/found.txt" || fail "expected device $id was not found"
done
for id in ob-4004 bm-5005; do
  ! grep -q -- "$id" "$work/found.txt" || fail "device $id should not be listed"
done
say "As expected: attic's vendor is not accepted, and courier was removed when it left."

say ""
say "== nasscout-cli --watch (a pass every 3 s): courier comes back, then leaves"
ip netns exec "$finder" "$cli" --watch --interval 3 --quiet >"$work/watch.txt" &
watch_pid=$!
pids+=("$watch_pid")
tail -n +1 -f --pid="$watch_pid" "$work/watch.txt" &
tail_pid=$!
pids+=("$tail_pid")
wait_for_line "$work/watch.txt" "appeared ip=198.51.100.12 " 15 || fail "the watch did not see the devices"
start_sim "$leaver" "$courier"
wait_for_line "$work/watch.txt" "appeared ip=198.51.100.20 " 15 || fail "the watch did not see courier come"
stop "$sim_pid"
wait_for_line "$work/watch.txt" "left .*ip=198.51.100.20 .*(bye-bye)" 15 || fail "the watch did not see courier leave"
kill -TERM "$watch_pid"
wait "$watch_pid" || fail "nasscout-cli --watch ended with status $? after SIGTERM"
forget "$watch_pid"
wait "$tail_pid" || true  # it prints what is left, then ends with the watch
forget "$tail_pid"
say ""
say "== Done; removing the network"
