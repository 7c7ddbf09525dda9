#!/usr/bin/env bash
# Installs every Debian package nasscout needs to build, test and run its
# demo. Safe to run again: it installs nothing when all is there.
# Needs root, or sudo.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config make
  clang  # scripts/thread-safety.sh: the lock annotations are checked by clang only
  libclang-rt-14-dev  # scripts/fuzz.sh: libFuzzer and the sanitizer runtimes of clang 14, only recommended by clang
  libboost-dev libboost-thread-dev libboost-system-dev libboost-date-time-dev libboost-program-options-dev
  qt6-base-dev qt6-base-dev-tools libgl-dev
  nlohmann-json3-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  iproute2 util-linux procps
  jq  # scripts/demo.sh reads its devices from scripts/demo/devices.json
  # The window without a display (the demo's Xvfb), and fonts for its seven
  # languages. The X client libraries of Qt's xcb platform come with
  # qt6-base-dev (libqt6gui6 depends on them).
  xvfb xauth fonts-noto-core fonts-noto-cjk
  # The installed desktop files: the icon's PNG sizes are rendered from its SVG
  # at build time; the entry and the metainfo are checked by their validators.
  librsvg2-bin desktop-file-utils appstream
  # The Debian packages: CPack finds their dependencies with dpkg-shlibdeps
  # and tells programs by file; CI checks them with lintian and getcap.
  dpkg-dev file lintian libcap2-bin
  # --all-makes: Avahi's client library, and for the lab's DNS-SD devices and
  # finder a real avahi-daemon and a private system bus (dbus-daemon), each
  # started only inside a lab namespace with its own /run.
  libavahi-client-dev avahi-daemon dbus-daemon
)

# Daemons a package would start at install: none may run in this machine's
# own namespace. The lab starts its own copies inside its namespaces.
daemons=(avahi-daemon dbus-daemon)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || { echo "install-deps: need root or sudo to install: ${missing[*]}" >&2; exit 1; }
  sudo="sudo"
fi
echo "install-deps: installing ${missing[*]}"

# A policy-rc.d that says 101 keeps the install from starting any service;
# one the machine already has is left as it is.
policy=/usr/sbin/policy-rc.d
temporary_policy=""
if [ ! -e "$policy" ]; then
  printf '#!/bin/sh\nexit 101\n' | $sudo tee "$policy" >/dev/null
  $sudo chmod 755 "$policy"
  temporary_policy=$policy
fi
daemon_pids() { for daemon in "${daemons[@]}"; do pgrep -x "$daemon" || true; done; }
running_before=" $(daemon_pids | tr '\n' ' ') "
remove_temporary_policy() { [ -z "$temporary_policy" ] || $sudo rm -f "$temporary_policy"; }
trap remove_temporary_policy EXIT

$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"

# Stop any daemon the install started after all in this network namespace (an
# init system that ignores policy-rc.d); the ones that ran before are the
# machine's own, and those of a lab run in namespaces of their own.
own_network=$(readlink /proc/self/ns/net)
for pid in $(daemon_pids); do
  case "$running_before" in *" $pid "*) continue ;; esac
  [ "$(readlink "/proc/$pid/ns/net" 2>/dev/null)" = "$own_network" ] || continue
  echo "install-deps: stopping $(cat "/proc/$pid/comm" 2>/dev/null) ($pid), started by the install" >&2
  $sudo kill "$pid" 2>/dev/null || true
done
