#!/usr/bin/env bash
# The main job on a network of its own: nasscout-lab builds a private
# network of namespaces with simulated NAS devices (scripts/demo-devices.json)
# and a finder, runs the finder and removes the whole network afterwards,
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

lab=$build/tools/lab/nasscout-lab
cli=$build/tools/cli/nasscout-cli
app=$build/src/app/nasscout
devices=scripts/demo-devices.json

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
  local programs=("$lab" "$build/tools/sim/nasscout-sim") targets=(nasscout-lab nasscout-sim) commands=() missing=false item
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
  [ -f "$build/build.ninja" ] || cmake --preset tests -B "$build"
  cmake --build "$build" --target "${targets[@]}"
}
prepare

work=$(mktemp -d /tmp/nasscout-demo.XXXXXX)
trap 'rm -rf "$work"' EXIT

# On SIGINT or SIGTERM the demo asks nasscout-lab to end the finder (Ctrl-C
# from the terminal has reached the finder too), waits while the lab removes
# the network, and ends with 130 or 143.
lab_pid=
stopped=
stop_lab() {
  stopped=$1
  [ -z "$lab_pid" ] || kill -TERM "$lab_pid" 2>/dev/null || true
}
trap 'stop_lab 130' INT
trap 'stop_lab 143' TERM

# Runs nasscout-lab, in the environment lab_env when set, with the demo's
# devices and the finder command that follows; its status (the finder's).
lab_env=()
run_lab() {
  local status=0
  "${lab_env[@]}" "$lab" --verbose --devices "$devices" -- "$@" &
  lab_pid=$!
  wait "$lab_pid" || status=$?
  # A signal interrupts the wait; the lab still ends the finder and cleans up.
  while kill -0 "$lab_pid" 2>/dev/null; do wait "$lab_pid" || status=$?; done
  lab_pid=
  [ -z "$stopped" ] || exit "$stopped"
  return "$status"
}

introduce() {
  say "== A private network of namespaces (nasscout-lab): a bridge, addresses 198.51.100.0/24"
  say "== Five simulated NAS devices (nasscout-sim)"
  say "   atlas   198.51.100.10  ZORVA"
  say "   vault   198.51.100.11  quenda   (lower case: accepted as QUENDA)"
  say "   cellar  198.51.100.12  TAVIRO"
  say "   attic   198.51.100.13  OBRANDA  (not an accepted vendor)"
  say "   courier 198.51.100.20  BELMIR4  (leaves with a bye-bye 4 s into the search)"
}

# --- The terminal demo: nasscout-cli ---------------------------------------

cli_search() {
  local status=0
  say ""
  say "== nasscout-cli in the finder: one search pass, 11 s search window"
  run_lab "$cli" --quiet >"$work/found.txt" || status=$?
  [ "$status" -eq 0 ] || fail "nasscout-cli ended with status $status"
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

# In the finder: nasscout-cli --watch ($1) writing to $2, shown as it goes,
# until courier has left with a bye-bye (at most 20 s); then SIGTERM ends
# the watch. Its status is the watch's.
watch_in_finder='
  : >"$2"
  "$1" --watch --interval 3 --quiet >"$2" &
  watch=$!
  tail -n +1 -f --pid="$watch" "$2" &
  deadline=$((SECONDS + 20))
  until grep -q -- "left .*ip=198.51.100.20 .*(bye-bye)" "$2"; do
    [ "$SECONDS" -lt "$deadline" ] || break
    sleep 0.1
  done
  kill -TERM "$watch"
  status=0
  wait "$watch" || status=$?
  wait
  exit "$status"'

cli_watch() {
  local status=0 watch=$work/watch.txt
  say ""
  say "== nasscout-cli --watch (a pass every 3 s): courier comes back, then leaves"
  run_lab bash -c "$watch_in_finder" watch "$cli" "$watch" || status=$?
  grep -q "appeared ip=198.51.100.12 " "$watch" || fail "the watch did not see the devices"
  grep -q "appeared ip=198.51.100.20 " "$watch" || fail "the watch did not see courier come"
  grep -q "left .*ip=198.51.100.20 .*(bye-bye)" "$watch" || fail "the watch did not see courier leave"
  [ "$status" -eq 0 ] || fail "nasscout-cli --watch ended with status $status after SIGTERM"
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

# Sets window_env to an `env` command line for nasscout-lab, which passes
# it on to nasscout: display $1 with authority file $2, a clean environment
# with the user's language and a runtime directory of its own (Qt wants one
# of mode 700 owned by its user, root here, and complains about a missing or
# foreign one).
set_window_env() {
  local runtime=$work/runtime variable
  [ -d "$runtime" ] || mkdir -m 700 "$runtime"
  window_env=(env -i "PATH=$PATH" "HOME=${HOME:-/root}" "XDG_RUNTIME_DIR=$runtime" QT_QPA_PLATFORM=xcb)
  [ -z "$1" ] || window_env+=("DISPLAY=$1")
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
  lab_env=("${window_env[@]}")
  explain_window
  say "   Close the window (or press Ctrl-C here) to end the demo."
  run_lab sh -c 'exec "$0" >"$1" 2>"$2"' "$app" "$work/window.out" "$work/window.err" || status=$?
  # Closing the window ends nasscout with status 1.
  if [ "$status" -gt 1 ]; then
    tail -n 20 "$work/window.err" >&2
    fail "nasscout ended with status $status on DISPLAY=$DISPLAY (if root may not use it: 'xhost +si:localuser:root')"
  fi
  say "   (window closed)"
}

# In the finder: Xvfb, then nasscout --screenshot ($2) on it, the picture
# and the window's output in the folder $1. Xvfb picks a free display number
# itself and writes it to -displayfd once it accepts clients. It listens on
# the abstract socket only, which lives in the finder's namespace, so nobody
# outside can connect. A socket file would do harm: Xvfb looks for a taken
# number on the abstract socket alone, so it would replace the file
# /tmp/.X11-unix/X<n> of a display the machine already runs. Status 125:
# Xvfb did not start; 124: nasscout did not end within 40 s.
xvfb_in_finder='
  Xvfb -displayfd 3 -nolisten tcp -nolisten unix -screen 0 1024x768x24 3>"$1/xvfb.display" >"$1/xvfb.log" 2>&1 &
  xvfb=$!
  trap "kill \$xvfb 2>/dev/null; wait \$xvfb" EXIT
  deadline=$((SECONDS + 15))
  until grep -q "^[0-9]" "$1/xvfb.display" 2>/dev/null; do
    [ "$SECONDS" -lt "$deadline" ] || exit 125
    sleep 0.1
  done
  export DISPLAY=:$(head -n 1 "$1/xvfb.display")
  echo "   No usable display here: it runs on a private Xvfb display ($DISPLAY) and, after"
  echo "   the search window, saves a picture of itself and prints its table."
  timeout 40 "$2" --screenshot "$1/nasscout-window.png" >"$1/window.out" 2>"$1/window.err"'

# Runs nasscout --screenshot on a private Xvfb display; leaves the picture
# in $work/nasscout-window.png and the table in $work/table.txt.
window_on_xvfb() {
  local status=0
  set_window_env "" ""
  lab_env=("${window_env[@]}")
  explain_window
  run_lab bash -c "$xvfb_in_finder" xvfb "$work" "$app" || status=$?
  [ "$status" -ne 125 ] || fail "Xvfb did not start: $(tail -n 5 "$work/xvfb.log")"
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

# Copies the picture out of the work directory, which is removed on the way out.
keep_screenshot() {
  local picture=$work/nasscout-window.png target=${NASSCOUT_DEMO_SCREENSHOT:-$build/nasscout-window.png}
  [ "$(head -c 4 "$picture" 2>/dev/null | tail -c 3)" = PNG ] || fail "nasscout saved no PNG picture"
  mkdir -p "$(dirname "$target")"
  cp "$picture" "$target"
  say "The window's picture: $(realpath "$target")"
}

introduce
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
say "== Done; the network is gone"
