#!/usr/bin/env bash
# CI's check of the Debian packages (README, Install the Debian packages):
# builds them, checks their file lists, control data, lintian, the desktop
# entry and the metainfo; then installs them with apt on this machine, tries
# the installed files, and purges them again, leaving the machine's package
# list as it was. Everything that searches runs inside nasscout-lab's
# private network. Needs root.
# Usage: scripts/package-check.sh [BUILD_DIR]   (build-package by default)
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${1:-build-package}
[ "$(id -u)" -eq 0 ] || { echo "package-check: needs root: it installs the packages" >&2; exit 1; }

fail() { echo "package-check: FAILED: $*" >&2; exit 1; }
step() { echo "package-check: $*"; }

ours=(nasscout libsearchdevice-dev libsearchdevice1)
for package in "${ours[@]}"; do
  if dpkg-query -W -f='${db:Status-Abbrev}' "$package" 2>/dev/null | grep -q '^[ihr]'; then
    fail "$package is installed already; remove it first, so that the check can leave the machine as it was"
  fi
done

scripts/build-packages.sh "$build_dir"
build_dir=$(realpath "$build_dir")
library_deb=$(ls "$build_dir"/libsearchdevice1_*.deb)
development_deb=$(ls "$build_dir"/libsearchdevice-dev_*.deb)
programs_deb=$(ls "$build_dir"/nasscout_*.deb)
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
libdir=/usr/lib/$multiarch

work=$(mktemp -d /tmp/nasscout-package-check.XXXXXX)
chmod 755 "$work"  # the unprivileged search below writes its log in here
installed=0
statoverride=0
# Purges what the check installed, dependencies apt pulled in included, and
# compares the machine's package list with the one taken before.
cleanup() {
  local status=$?
  [ "$statoverride" -eq 0 ] || dpkg-statoverride --remove /usr/libexec/nasscout/nasscout-port67 || status=1
  if [ "$installed" -eq 1 ]; then
    dpkg-query -W -f='${db:Status-Abbrev} ${binary:Package}\n' | awk '$1 !~ /^[up]n/ {print $2}' | sort \
      > "$work/names-after-install"
    mapfile -t pulled_in < <(comm -13 <(awk '{print $2}' "$work/before") "$work/names-after-install")
    DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq "${pulled_in[@]}" > "$work/purge.log" 2>&1 ||
      { cat "$work/purge.log" >&2; status=1; }
    dpkg-query -W -f='${db:Status-Abbrev} ${binary:Package} ${Version}\n' | awk '$1 !~ /^[up]n/' | sort > "$work/after"
    if ! diff "$work/before" "$work/after" >&2; then
      echo "package-check: FAILED: the purge left the package list changed (above)" >&2
      status=1
    fi
    for leftover in /usr/bin/nasscout /usr/bin/nasscout-cli /usr/libexec/nasscout /etc/ufw/applications.d/nasscout \
                    "$libdir/libsearchdevice.so.1" /usr/include/searchdevice; do
      [ ! -e "$leftover" ] || { echo "package-check: FAILED: $leftover is left after the purge" >&2; status=1; }
    done
  fi
  rm -rf "$work"
  [ "$status" -eq 0 ] && echo "package-check: all checks passed"
  exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM  # so that a stopped check purges too

# -- The packages as files ---------------------------------------------------

# Fails unless the package holds every path given.
# Fails unless the package holds exactly what `cmake --install` puts in its
# component (files and links; the folders follow).
expect_component() {
  local deb=$1 component=$2 stage=$work/stage-$2
  DESTDIR=$stage cmake --install "$build_dir" --component "$component" > /dev/null
  (cd "$stage" && find . ! -type d | sed 's|^\.||' | sort) > "$work/expected"
  dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sed 's|^\./|/|' | sort > "$work/packaged"
  diff "$work/expected" "$work/packaged" >&2 ||
    fail "$(basename "$deb") differs (>) from what the install rules give its component $component (<)"
}
# Fails if the package holds a path matching the pattern.
refuse_files() {
  local deb=$1 pattern=$2
  if dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./|/|' | grep -E "$pattern"; then
    fail "$(basename "$deb") holds the files above, which belong to another package"
  fi
}
control_field() { dpkg-deb -f "$1" "$2"; }
# A worker's line of the engine's log, laid out as engine/wire/log_texts.h
# says, for grep -F: worker_log_line NAME PORT [ARGUMENT]...
worker_log_line() {
  local name=$1 layout
  shift
  layout=$(sed -n "s/^#define LOGTEXT_$name \"\(.*\)\"\$/\1/p" engine/wire/log_texts.h)
  [ -n "$layout" ] || fail "engine/wire/log_texts.h has no LOGTEXT_$name"
  # shellcheck disable=SC2059 # the layout is the format
  printf "SendThread %d : $layout" "$@"
}
control_file() { dpkg-deb --ctrl-tarfile "$1" | tar -xOf - "./$2"; }

step "file lists"
expect_component "$library_deb" Library
refuse_files "$library_deb" '^/usr/include|libsearchdevice\.so$|^/usr/bin'
expect_component "$development_deb" Development
refuse_files "$development_deb" 'libsearchdevice\.so\.|^/usr/bin'
expect_component "$programs_deb" Programs
refuse_files "$programs_deb" 'libsearchdevice|^/usr/include'
helper=/usr/libexec/nasscout/nasscout-port67
grep -qxF "$helper" "$work/packaged" || fail "nasscout lacks $helper"
for deb in "$library_deb" "$development_deb" "$programs_deb"; do
  if dpkg-deb -c "$deb" | awk '{print $1, $6}' | grep '^[^ ]*[sS]'; then fail "$(basename "$deb") holds a setuid or setgid file"; fi
done

step "control data"
control_file "$library_deb" shlibs | grep -qx "libsearchdevice 1 libsearchdevice1 (>= .*)" ||
  fail "libsearchdevice1 has no shlibs entry for its soname"
control_file "$library_deb" triggers | grep -qx "activate-noawait ldconfig" ||
  fail "libsearchdevice1 does not trigger ldconfig"
control_field "$development_deb" Depends | grep -q "libsearchdevice1 (= " ||
  fail "libsearchdevice-dev does not depend on its library"
depends=$(control_field "$programs_deb" Depends)
for needed in "libsearchdevice1 (= " libqt6widgets6 libboost-program-options libcap2-bin libavahi-client3; do
  grep -qF "$needed" <<< "$depends" || fail "nasscout's Depends lacks $needed: $depends"
done
control_field "$programs_deb" Recommends | grep -q avahi-daemon || fail "nasscout does not recommend avahi-daemon"
control_file "$programs_deb" conffiles | grep -qx /etc/ufw/applications.d/nasscout ||
  fail "the ufw profile is not a conffile"
control_file "$programs_deb" postinst | grep -q "setcap cap_net_bind_service=+ep \"\$helper\"" ||
  fail "nasscout's postinst does not give the helper its capability"

step "lintian"
mkdir "$work/lintian"  # lintian leaves its caches in TMPDIR
TMPDIR=$work/lintian lintian --fail-on error "$library_deb" "$development_deb" "$programs_deb"

step "desktop entry and metainfo"
dpkg-deb -x "$programs_deb" "$work/unpacked"
desktop-file-validate "$work/unpacked/usr/share/applications/nasscout.desktop"
appstreamcli validate --no-net "$work/unpacked/usr/share/metainfo/io.github.nasscout.nasscout.metainfo.xml"

# -- Installed ---------------------------------------------------------------

dpkg-query -W -f='${db:Status-Abbrev} ${binary:Package} ${Version}\n' | awk '$1 !~ /^[up]n/' | sort > "$work/before"
step "apt install"
installed=1
own_network=$(readlink /proc/self/ns/net)
daemons_here() {  # the service daemons running in this machine's own network namespace
  for pid in $(pgrep -x avahi-daemon; pgrep -x dbus-daemon); do
    [ "$(readlink "/proc/$pid/ns/net" 2>/dev/null)" != "$own_network" ] || echo "$pid"
  done
}
daemons_before=$(daemons_here)
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$library_deb" "$development_deb" "$programs_deb" \
  > "$work/install.log" 2>&1 || { cat "$work/install.log" >&2; fail "apt could not install the packages"; }
[ "$(daemons_here)" = "$daemons_before" ] || fail "the install left a daemon running: $(daemons_here)"

step "installed programs"
[ "$(command -v nasscout-cli)" = /usr/bin/nasscout-cli ] || fail "nasscout-cli is not /usr/bin/nasscout-cli"
setpriv --reuid=nobody --regid=nogroup --clear-groups /usr/bin/nasscout-cli --version | grep -q "$(control_field "$programs_deb" Version)" ||
  fail "nasscout-cli --version does not say the package's version"
/usr/bin/nasscout --version > /dev/null

step "only the helper holds a capability, and it links libc alone"
getcap "$helper" | grep -q "cap_net_bind_service=ep" || fail "$helper lacks cap_net_bind_service: $(getcap "$helper")"
for package in "${ours[@]}"; do
  dpkg -L "$package" | while read -r file; do
    [ -f "$file" ] && [ "$file" != "$helper" ] && [ -n "$(getcap "$file")" ] && fail "$file has a capability: $(getcap "$file")"
    true
  done
done
needed=$(readelf -d "$helper" | awk '/NEEDED/ {print $5}')
[ "$needed" = "[libc.so.6]" ] || fail "$helper links more than libc: $needed"
find /usr/bin /usr/libexec/nasscout -name 'nasscout*' -perm /6000 | grep . && fail "a nasscout program is setuid or setgid"
desktop-file-validate /usr/share/applications/nasscout.desktop

# A device for every search below, on nasscout-lab's own private network.
lab=(nasscout-lab --device "ip=198.51.100.20,id=4f2a-77,host=nas1,vendor=ZORVA,product=NS200,detail=A1,version=2.1.0" --)

step "an unprivileged search includes the broadcast search, through the helper"
mkdir -m 1777 "$work/log"
"${lab[@]}" setpriv --reuid=nobody --regid=nogroup --clear-groups \
  /usr/bin/nasscout-cli --seconds 3 --json --log "$work/log" > "$work/found.json" 2> "$work/cli.err" ||
  { cat "$work/cli.err" >&2; fail "nasscout-cli ended with an error"; }
grep -q '"host":"nas1"' "$work/found.json" || fail "nasscout-cli did not find the device: $(cat "$work/found.json")"
# The broadcast worker logs as "SendThread 67": it must have taken an answer.
grep -qF "$(worker_log_line HANDED_SOCKET 67 67)" "$work/log"/* ||
  fail "nasscout-cli, run by nobody, was not handed port 67 by the helper"
grep -qF "$(worker_log_line BROADCAST_NEW 67)" "$work/log"/* ||
  fail "the broadcast search of nasscout-cli, run by nobody, took no answer: $(grep -h 'SendThread 67 : .*Error' "$work/log"/*)"

step "the window, run by nobody, holds port 67, and a style plugin it is told to load holds nothing"
# Any user can have a Qt program load code of theirs (QT_PLUGIN_PATH with
# QT_STYLE_OVERRIDE, among others): that code must find no privilege. The
# window has no log: a shell in the finder host looks for its socket on port
# 67 while it searches (nothing else there binds it).
cmake -S tests/package/style_probe -B "$work/style_probe" -G Ninja > "$work/style_probe.log" 2>&1 &&
  cmake --build "$work/style_probe" >> "$work/style_probe.log" 2>&1 || { cat "$work/style_probe.log" >&2; fail "the style plugin"; }
chmod -R a+rX "$work/style_probe"
mkdir -m 1777 "$work/window"
install -d -o nobody -m 700 "$work/window/runtime"
"${lab[@]}" sh -c '
  setpriv --reuid=nobody --regid=nogroup --clear-groups env -i PATH=/usr/bin:/bin HOME="$1" \
    XDG_RUNTIME_DIR="$1/runtime" QT_QPA_PLATFORM=offscreen QT_PLUGIN_PATH="$2" QT_STYLE_OVERRIDE=probe \
    NASSCOUT_STYLE_PROBE_REPORT="$1/probe.txt" nasscout --screenshot "$1/window.png" > "$1/table.txt" 2>&1 &
  window=$!
  # Until the port is held, or the window has ended without it.
  until ss -Hlun "sport = :67" | grep -q . || ! kill -0 $window 2>/dev/null; do sleep 0.1; done
  ss -Hlun "sport = :67" > "$1/port67.txt"
  wait $window' sh "$work/window" "$work/style_probe" || { cat "$work/window/table.txt" >&2; fail "the window ended with an error"; }
grep -q "nas1" "$work/window/table.txt" || fail "the window did not find the device: $(cat "$work/window/table.txt")"
grep -q ":67 " "$work/window/port67.txt" || fail "the window, run by nobody, did not open port 67"
[ "$(head -1 "$work/window/probe.txt" 2>/dev/null)" = ran ] || fail "the window did not load the style plugin it was named"
grep -q "^CapEff:[[:space:]]*0*$" "$work/window/probe.txt" || fail "the plugin ran with a capability: $(cat "$work/window/probe.txt")"
if grep -E "^(tcp|udp) [0-9]+: " "$work/window/probe.txt" | grep -v ": Permission denied$"; then
  fail "the plugin in the window, run by nobody, bound a port below 1024 (above)"
fi

step "an administrator's dpkg-statoverride narrows who runs the helper, and nobody then searches without port 67"
dpkg-statoverride --update --add root root 0750 "$helper"
statoverride=1
# As the README tells the administrator: the change of owner took the capability.
DEBIAN_FRONTEND=noninteractive dpkg-reconfigure nasscout
[ "$(stat -c '%U:%G %a' "$helper")" = "root:root 750" ] || fail "the postinst changed the override: $(stat -c '%U:%G %a' "$helper")"
getcap "$helper" | grep -q "cap_net_bind_service=ep" || fail "with an override the helper lost its capability"
mkdir -m 1777 "$work/log-without"
"${lab[@]}" setpriv --reuid=nobody --regid=nogroup --clear-groups \
  /usr/bin/nasscout-cli --seconds 2 --json --log "$work/log-without" > "$work/found-without.json" 2> "$work/cli.err" ||
  { cat "$work/cli.err" >&2; fail "nasscout-cli ended with an error without its helper"; }
grep -q '"host":"nas1"' "$work/found-without.json" || fail "nasscout-cli without its helper found nothing"
grep -qF "$(worker_log_line CREATE_ERROR 67 "bind: Permission denied")" "$work/log-without"/* ||
  fail "nasscout-cli without its helper did not log why it has no port 67"
dpkg-statoverride --remove "$helper"
statoverride=0

step "a C program built against the installed library"
cc -std=c11 -Wall -Wextra -Werror -Ilab tests/package/find_devices.c lab/network_guard.c \
  $(pkg-config --cflags --libs searchdevice) \
  -o "$work/find_devices_pkgconfig"
cmake -S tests/package -B "$work/consumer" -G Ninja > "$work/consumer.log" 2>&1 &&
  cmake --build "$work/consumer" >> "$work/consumer.log" 2>&1 || { cat "$work/consumer.log" >&2; fail "find_package(searchdevice)"; }
for program in "$work/find_devices_pkgconfig" "$work/consumer/find_devices"; do
  # /lib is /usr/lib on Debian 12: the loader may name either.
  ldd "$program" | grep -qE "libsearchdevice.so.1 => (/usr)?/lib/$multiarch/libsearchdevice.so.1 " ||
    fail "$program does not load the installed library"
  "${lab[@]}" "$program" > "$work/found.txt" 2>&1 &&
    grep -q "found nas1 at 198.51.100.20" "$work/found.txt" || fail "$program found no device: $(cat "$work/found.txt")"
done
