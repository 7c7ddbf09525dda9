#!/usr/bin/env bash
# The main job on a network of its own: simulated NAS devices and the finder
# in private network namespaces joined by a bridge, and what the finder
# found. Every namespace and process it makes is removed on the way out,
# also after a failure or Ctrl-C. Nothing it sends can reach the machine's
# network.
#
# Usage: scripts/demo.sh [--cli] [BUILD_DIR]   (as root; installs and builds what is missing)
#        scripts/demo.sh --check              only checks that the demo can run here
#
# By default the finder is the window, nasscout: on your X display when
# DISPLAY names a local one (under sudo too), until you close it; without
# one, on a private Xvfb display, from which it saves a picture of the window
# to $NASSCOUT_DEMO_SCREENSHOT (by default BUILD_DIR/nasscout-window.png;
# relative paths start at the repository, as BUILD_DIR does) and prints its
# table. With --cli the finder is nasscout-cli: one search, then a short
# --watch.
set -euo pipefail
cd "$(dirname "$0")/.."

say() { printf '%s\n' "$*"; }
fail() { printf 'demo: %s\n' "$*" >&2; exit 1; }
usage() { sed -n '8,9s/^# \{0,1\}//p' "$0"; }

mode=window
check=false
build=${NASSCOUT_BUILD_DIR:-build}
for argument in "$@"; do
  case $argument in
    --cli) mode=cli ;;
    --check) check=true ;;
    -h | --help) usage; exit 0 ;;
    -*) fail "unknown option '$argument' (see scripts/demo.sh --help)" ;;
    *) build=$argument ;;
  esac
done

[ "$(id -u)" -eq 0 ] || fail "needs root to create network namespaces; run it as root, e.g. 'sudo scripts/demo.sh'"
command -v ip >/dev/null || fail "needs the ip command (Debian package iproute2)"
"$check" && exit 0

cli=$build/tools/cli/nasscout-cli
sim=$build/tools/sim/nasscout-sim
app=$build/src/app/nasscout

# The X socket of $DISPLAY that the finder's namespace can reach: only the
# file /tmp/.X11-unix/X<n> of a local display. The abstract socket and TCP
# belong to the machine's own network namespace, so a display forwarded by
# ssh (localhost:10) cannot be used from the private network.
local_x_socket() {
  [[ ${DISPLAY:-} =~ ^(unix)?:([0-9]+)(\.[0-9]+)?$ ]] || return 1
  [ -S "/tmp/.X11-unix/X${BASH_REMATCH[2]}" ]
}

on_display=false
if [ "$mode" = window ] && local_x_socket; then
  on_display=true
elif [ "$mode" = window ] && [ -n "${DISPLAY:-}" ]; then
  say "demo: DISPLAY=$DISPLAY has no local socket (/tmp/.X11-unix/X<n>) that the private network can reach;"
  say "      the window runs on a private Xvfb display instead."
fi

# Installs the packages and builds the programs this run needs, only when
# one is missing: a later run starts at once.
prepare() {
  local programs=("$sim") targets=(nasscout-sim) commands=() missing=false item
  if [ "$mode" = cli ]; then
    programs+=("$cli") targets+=(nasscout-cli)
  else
    programs+=("$app") targets+=(nasscout)
    "$on_display" || commands+=(Xvfb timeout)
  fi
  for item in "${programs[@]}"; do [ -x "$item" ] || missing=true; done
  for item in "${commands[@]}"; do command -v "$item" >/dev/null || missing=true; done
  "$missing" || return 0
  scripts/install-deps.sh
  [ -f "$build/build.ninja" ] || cmake -S . -B "$build" -G Ninja
  cmake --build "$build" --target "${targets[@]}"
}
prepare

prefix=nasscout-demo-$$
lan=$prefix-lan        # holds the bridge
finder=$prefix-finder  # runs nasscout or nasscout-cli (and Xvfb)
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

atlas="ip=198.51.100.10,id=zv-1001,host=atlas,vendor=ZORVA,product=NS200,detail=A1,version=2.1.0"
vault="ip=198.51.100.11,id=qd-2002,host=vault,vendor=quenda,product=QX4,detail=rack,version=4.0.1"
cellar="ip=198.51.100.12,id=tv-3003,host=cellar,vendor=TAVIRO,product=T2,detail=home,version=1.7"
attic="ip=198.51.100.13,id=ob-4004,host=attic,vendor=OBRANDA,product=OB1,detail=x,version=0.9"
courier="ip=198.51.100.20,id=bm-5005,host=courier,vendor=BELMIR4,product=B4-Mini,detail=travel,version=3.3"

# The bridge, the finder and the two namespaces of devices; sets courier_pid
# to the simulator that is to leave during the search.
start_network() {
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

  say "== Five simulated NAS devices (nasscout-sim)"
  say "   atlas   198.51.100.10  ZORVA"
  say "   vault   198.51.100.11  quenda   (lower case: accepted as QUENDA)"
  say "   cellar  198.51.100.12  TAVIRO"
  say "   attic   198.51.100.13  OBRANDA  (not an accepted vendor)"
  say "   courier 198.51.100.20  BELMIR4  (leaves with a bye-bye 4 s into the search)"
  start_sim "$shelf" "$atlas" "$vault" "$cellar" "$attic"
  start_sim "$leaver" "$courier"
  courier_pid=$sim_pid
}

# Four seconds into the search, courier says bye-bye and goes.
courier_leaves() {
  sleep 4
  stop "$courier_pid"
  say "   (courier said bye-bye)"
}

# --- The terminal demo: nasscout-cli ---------------------------------------

cli_search() {
  say ""
  say "== nasscout-cli in the finder: one search pass, 11 s search window"
  ip netns exec "$finder" "$cli" --quiet >"$work/found.txt" &
  cli_pid=$!
  pids+=("$cli_pid")
  courier_leaves
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
}

cli_watch() {
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
}

# --- The window demo: nasscout ---------------------------------------------

# The X authority file for the user's display: XAUTHORITY, else (under sudo,
# where HOME is root's) the invoking user's ~/.Xauthority. Empty when there
# is none; Xlib then tries root's own.
x_authority() {
  if [ -n "${XAUTHORITY:-}" ]; then
    say "$XAUTHORITY"
  elif [ -n "${SUDO_USER:-}" ]; then
    local home
    home=$(getent passwd "$SUDO_USER" | cut -d: -f6)
    if [ -n "$home" ] && [ -f "$home/.Xauthority" ]; then say "$home/.Xauthority"; fi
  fi
}

# Sets window_env to an `env` command line for nasscout on display $1 with
# authority file $2: a clean environment with the user's language and a
# runtime directory of its own (Qt wants one of mode 700 owned by its user,
# root here, and complains about a missing or foreign one).
set_window_env() {
  local runtime=$work/runtime variable
  [ -d "$runtime" ] || mkdir -m 700 "$runtime"
  window_env=(env -i "PATH=$PATH" "HOME=${HOME:-/root}" "XDG_RUNTIME_DIR=$runtime"
    QT_QPA_PLATFORM=xcb "DISPLAY=$1")
  [ -z "$2" ] || window_env+=("XAUTHORITY=$2")
  for variable in LANGUAGE LC_ALL LC_MESSAGES LANG; do
    [ -z "${!variable:-}" ] || window_env+=("$variable=${!variable}")
  done
}

explain_window() {
  say ""
  say "== The nasscout window, searching from the finder (198.51.100.1)"
  say "   For 11 s it searches, with a countdown, and lists the devices as they answer:"
  say "   atlas, vault and cellar stay; attic never shows (its vendor is not accepted);"
  say "   courier shows at first and goes when it says bye-bye 4 s in. Then the buttons"
  say "   come on; Refresh searches again. Log In and My storage would open http://IP and"
  say "   smb://IP, but the simulated devices only answer searches."
}

# Shows the window on the user's display and waits until it is closed.
window_on_display() {
  local status=0
  set_window_env "$DISPLAY" "$(x_authority)"
  explain_window
  say "   Close the window (or press Ctrl-C here) to end the demo."
  ip netns exec "$finder" "${window_env[@]}" "$app" >"$work/window.out" 2>"$work/window.err" &
  window_pid=$!
  pids+=("$window_pid")
  courier_leaves
  wait "$window_pid" || status=$?
  forget "$window_pid"
  # Closing the window ends nasscout with status 1.
  if [ "$status" -gt 1 ]; then
    tail -n 20 "$work/window.err" >&2
    fail "nasscout ended with status $status on DISPLAY=$DISPLAY (if root may not use it: 'xhost +si:localuser:root')"
  fi
  say "   (window closed)"
}

# Starts Xvfb in the finder's namespace and sets xvfb_display; Xvfb picks
# a free number itself and writes it to -displayfd once it accepts clients.
# It listens on the abstract socket only, which lives in that namespace, so
# nobody outside can connect. A socket file would do harm: Xvfb looks for a
# taken number on the abstract socket alone, so it would replace the file
# /tmp/.X11-unix/X<n> of a display the machine already runs.
start_xvfb() {
  ip netns exec "$finder" Xvfb -displayfd 3 -nolisten tcp -nolisten unix -screen 0 1024x768x24 \
    3>"$work/xvfb.display" >"$work/xvfb.log" 2>&1 &
  pids+=("$!")
  wait_for_line "$work/xvfb.display" "^[0-9]" 15 || fail "Xvfb did not start: $(tail -n 5 "$work/xvfb.log")"
  xvfb_display=:$(head -n 1 "$work/xvfb.display")
}

# Runs nasscout --screenshot on a private Xvfb display; leaves the picture
# in $work/nasscout-window.png and the table in $work/table.txt.
window_on_xvfb() {
  local status=0
  start_xvfb
  set_window_env "$xvfb_display" ""
  explain_window
  say "   No usable display here: it runs on a private Xvfb display ($xvfb_display) and, after"
  say "   the search window, saves a picture of itself and prints its table."
  timeout 40 ip netns exec "$finder" "${window_env[@]}" "$app" --screenshot "$work/nasscout-window.png" \
    >"$work/window.out" 2>"$work/window.err" &
  window_pid=$!
  pids+=("$window_pid")
  courier_leaves
  wait "$window_pid" || status=$?
  forget "$window_pid"
  [ "$status" -ne 124 ] || fail "nasscout --screenshot did not end within 40 s"
  if [ "$status" -ne 0 ]; then
    tail -n 20 "$work/window.err" >&2
    fail "nasscout --screenshot ended with status $status"
  fi
  # Standard output also carries the store's diagnostic lines while it
  # searches, each after an empty line; the rest is the table.
  grep -v -e '^$' -e '^NewDeviceInfo\.factory = ' "$work/window.out" >"$work/table.txt" || true
}

# Checks the window's table as the terminal demo checks nasscout-cli's list.
check_table() {
  local table=$work/table.txt row
  say ""
  sed 's/^/   /' "$table"
  say ""
  for row in "atlas 198.51.100.10" "vault 198.51.100.11" "cellar 198.51.100.12"; do
    grep -w -- "${row% *}" "$table" | grep -qw -- "${row#* }" || fail "expected device ${row% *} (${row#* }) is not listed"
  done
  for row in "attic 198.51.100.13" "courier 198.51.100.20"; do
    ! grep -qw -e "${row% *}" -e "${row#* }" "$table" || fail "device ${row% *} should not be listed"
  done
  say "As expected: attic's vendor is not accepted, and courier was removed when it left."
}

# Copies the picture out of the work directory, which the cleanup removes.
keep_screenshot() {
  local picture=$work/nasscout-window.png target=${NASSCOUT_DEMO_SCREENSHOT:-$build/nasscout-window.png}
  [ "$(head -c 4 "$picture" 2>/dev/null | tail -c 3)" = PNG ] || fail "nasscout saved no PNG picture"
  mkdir -p "$(dirname "$target")"
  cp "$picture" "$target"
  say "The window's picture: $(realpath "$target")"
}

start_network
if [ "$mode" = cli ]; then
  cli_search
  cli_watch
elif "$on_display"; then
  window_on_display
else
  window_on_xvfb
  check_table
  keep_screenshot
fi
say ""
say "== Done; removing the network"
