#!/usr/bin/env bash
# The main job on a network of its own: nasscout-lab builds a private
# network of namespaces with the simulated NAS devices of
# scripts/demo/devices.json and a finder, runs the finder and removes the
# whole network afterwards, also after a failure or Ctrl-C. Nothing it sends
# can reach the machine's network.
#
# Usage: scripts/demo.sh [--cli] [--all-makes] [BUILD_DIR]   (as root; installs and builds what is missing)
#        scripts/demo.sh --check              only checks that the demo can run here
#
# By default the finder is the window, nasscout: on your X display when
# DISPLAY names a local one (under sudo too), until you close it; without
# one, on a private Xvfb display (scripts/demo/xvfb-window.sh), from which it
# saves a picture of the window to $NASSCOUT_DEMO_SCREENSHOT (by default
# BUILD_DIR/nasscout-window.png) and prints its table. With --cli the finder
# is nasscout-cli: one search, then a short --watch (scripts/demo/watch.sh).
# With --all-makes the finder lists devices of every make: every vendor of
# nasscout's protocol, and the NAS devices of scripts/demo/dnssd-hosts.json,
# each a host running its own avahi-daemon, found through the finder's own
# avahi-daemon and system bus.
set -euo pipefail
cd "$(dirname "$0")/.."

say() { printf '%s\n' "$@"; }  # a line per argument
fail() { printf 'demo: %s\n' "$*" >&2; exit 1; }

mode=window check=false build=${NASSCOUT_BUILD_DIR:-build}
finder_options=() lab_options=()
for argument in "$@"; do
  case $argument in
    --cli) mode=cli ;;
    --check) check=true ;;
    --all-makes) finder_options=(--all-makes) lab_options=(--dnssd scripts/demo/dnssd-hosts.json) ;;
    -h | --help) sed -n '8,9s/^# \{0,1\}//p' "$0"; exit 0 ;;
    -*) fail "unknown option '$argument' (see scripts/demo.sh --help)" ;;
    *) build=$argument ;;
  esac
done
[ "$(id -u)" -eq 0 ] || fail "needs root to create network namespaces; run it as root, e.g. 'sudo scripts/demo.sh'"
command -v ip >/dev/null || fail "needs the ip command (Debian package iproute2)"
"$check" && exit 0

lab=$build/tools/lab/nasscout-lab cli=$build/tools/cli/nasscout-cli app=$build/src/app/nasscout
devices=scripts/demo/devices.json

# Only the socket file /tmp/.X11-unix/X<n> of a local display reaches the
# finder's namespace; the abstract socket and TCP (a display forwarded by
# ssh) stay in the machine's own.
on_display=false
if [ "$mode" = window ] && [[ ${DISPLAY:-} =~ ^(unix)?:([0-9]+)(\.[0-9]+)?$ ]] &&
  [ -S "/tmp/.X11-unix/X${BASH_REMATCH[2]}" ]; then
  on_display=true
elif [ "$mode" = window ] && [ -n "${DISPLAY:-}" ]; then
  say "demo: DISPLAY=$DISPLAY has no local socket that the private network can reach; using a private Xvfb display."
fi

# What this run needs, installed and built only when missing.
targets=(nasscout-lab nasscout-sim) programs=("$lab" "$build/tools/sim/nasscout-sim")
if [ "$mode" = cli ]; then targets+=(nasscout-cli) programs+=("$cli"); else targets+=(nasscout) programs+=("$app"); fi
missing=false
for program in "${programs[@]}"; do [ -x "$program" ] || missing=true; done
command -v jq >/dev/null && command -v Xvfb >/dev/null || missing=true
if "$missing"; then
  scripts/install-deps.sh
  [ -f "$build/build.ninja" ] || cmake --preset tests -B "$build"
  cmake --build "$build" --target "${targets[@]}"
fi

work=$(mktemp -d /tmp/nasscout-demo.XXXXXX)
trap 'rm -rf "$work"' EXIT
# A stop signal asks nasscout-lab to end the finder (Ctrl-C in the terminal
# has reached it too) and waits while the lab removes the network.
lab_pid= stopped=
stop_lab() { stopped=$1; [ -z "$lab_pid" ] || kill -TERM "$lab_pid" 2>/dev/null || true; }
trap 'stop_lab 130' INT
trap 'stop_lab 143' TERM

# nasscout-lab with the demo's devices around the finder command given, in
# the environment lab_env when set; its status is the finder's.
lab_env=()
run_lab() {
  local status=0
  "${lab_env[@]}" "$lab" --verbose --devices "$devices" "${lab_options[@]}" -- "$@" &
  lab_pid=$!
  wait "$lab_pid" || status=$?
  while kill -0 "$lab_pid" 2>/dev/null; do wait "$lab_pid" || status=$?; done
  lab_pid=
  [ -z "$stopped" ] || exit "$stopped"
  return "$status"
}

say "== A private network of namespaces (nasscout-lab): a bridge, addresses 198.51.100.0/24"
say "== Simulated NAS devices (nasscout-sim, $devices); the finder lists the vendors it accepts"
jq -r '.[] | "   \(.host)\t\(.ip)\t\(.vendor)" + (if .leave_after then "\t(leaves with a bye-bye \(.leave_after) s in)" else "" end)' "$devices"
if [ ${#lab_options[@]} -gt 0 ]; then
  say "== With --all-makes, every vendor, and NAS devices of other makes announcing over DNS-SD"
  say "   (avahi-daemon in each; a host with only a web page is no NAS and is not listed):"
  jq -r '.hosts[] | "   \(.name).local\t\(.ip)\t" + ([.services[].type] | join(" "))' scripts/demo/dnssd-hosts.json
fi

if [ "$mode" = cli ]; then
  say "" "== nasscout-cli in the finder: one search pass, 11 s search window" ""
  run_lab "$cli" "${finder_options[@]}" || fail "nasscout-cli ended with status $?"
  say "" "== nasscout-cli --watch (a pass every 3 s): the leaving device comes back, then leaves"
  leaving=$(jq -r 'map(select(.leave_after))[0].ip' "$devices")
  run_lab scripts/demo/watch.sh "$cli" "$work/watch.txt" "$leaving" "${finder_options[@]}" ||
    fail "nasscout-cli --watch ended with status $? after SIGTERM"
  say "" "== Done; the network is gone"
  exit 0
fi

# The window's environment: a clean one with the user's language and a
# runtime directory of its own (Qt wants one of mode 700 owned by its user).
mkdir -m 700 "$work/runtime"
lab_env=(env -i "PATH=$PATH" "HOME=${HOME:-/root}" "XDG_RUNTIME_DIR=$work/runtime" QT_QPA_PLATFORM=xcb)
for variable in LANGUAGE LC_ALL LC_MESSAGES LANG; do
  [ -z "${!variable:-}" ] || lab_env+=("$variable=${!variable}")
done
say "" "== The nasscout window, searching from the finder (198.51.100.1)"
say "   For 11 s it searches, with a countdown, and lists the devices as they answer; then the"
say "   buttons come on. Log In and My storage would open http://IP and smb://IP, but the"
say "   simulated devices only answer searches."

if "$on_display"; then
  # The user's X authority: XAUTHORITY, or under sudo the invoking user's ~/.Xauthority.
  authority=${XAUTHORITY:-}
  if [ -z "$authority" ] && [ -n "${SUDO_USER:-}" ]; then
    authority=$(getent passwd "$SUDO_USER" | cut -d: -f6)/.Xauthority
    [ -f "$authority" ] || authority=
  fi
  lab_env+=("DISPLAY=$DISPLAY")
  [ -z "$authority" ] || lab_env+=("XAUTHORITY=$authority")
  say "   Close the window (or press Ctrl-C here) to end the demo."
  status=0
  run_lab sh -c 'out=$1 err=$2; shift 2; exec "$0" "$@" >"$out" 2>"$err"' "$app" "$work/window.out" "$work/window.err" \
    "${finder_options[@]}" || status=$?
  if [ "$status" -gt 1 ]; then  # closing the window ends it with 1
    tail -n 20 "$work/window.err" >&2
    fail "nasscout ended with status $status on DISPLAY=$DISPLAY (if root may not use it: 'xhost +si:localuser:root')"
  fi
else
  status=0
  run_lab scripts/demo/xvfb-window.sh "$work" "$app" "${finder_options[@]}" || status=$?
  [ "$status" -ne 125 ] || fail "Xvfb did not start: $(tail -n 5 "$work/xvfb.log")"
  [ "$status" -ne 124 ] || fail "nasscout --screenshot did not end within 40 s"
  [ "$status" -eq 0 ] || { tail -n 20 "$work/window.err" >&2; fail "nasscout --screenshot ended with status $status"; }
  # Standard output also carries the store's diagnostic lines, each after an empty line.
  say ""
  grep -v -e '^$' -e '^NewDeviceInfo\.factory = ' "$work/window.out" | sed 's/^/   /' || true
  target=${NASSCOUT_DEMO_SCREENSHOT:-$build/nasscout-window.png}
  mkdir -p "$(dirname "$target")"
  cp "$work/nasscout-window.png" "$target" || fail "nasscout saved no picture"
  say "" "The window's picture: $(realpath "$target")"
fi
say "" "== Done; the network is gone"
