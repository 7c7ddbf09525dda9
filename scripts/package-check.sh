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
# Purges what the check installed, dependencies apt pulled in included, and
# compares the machine's package list with the one taken before.
cleanup() {
  local status=$?
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
    for leftover in /usr/bin/nasscout /usr/bin/nasscout-cli /etc/ufw/applications.d/nasscout \
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
expect_files() {
  local deb=$1; shift
  dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./|/|; s|/$||' > "$work/list"
  for path in "$@"; do
    grep -qxF "$path" "$work/list" || fail "$(basename "$deb") lacks $path"
  done
}
# Fails if the package holds a path matching the pattern.
refuse_files() {
  local deb=$1 pattern=$2
  if dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./|/|' | grep -E "$pattern"; then
    fail "$(basename "$deb") holds the files above, which belong to another package"
  fi
}
control_field() { dpkg-deb -f "$1" "$2"; }
control_file() { dpkg-deb --ctrl-tarfile "$1" | tar -xOf - "./$2"; }

step "file lists"
expect_files "$library_deb" "$libdir/libsearchdevice.so.1" "$libdir/libsearchdevice.so.1.0.0" \
  /usr/share/doc/libsearchdevice1/copyright /usr/share/doc/libsearchdevice1/changelog.gz
refuse_files "$library_deb" '^/usr/include|libsearchdevice\.so$|^/usr/bin'
expect_files "$development_deb" "$libdir/libsearchdevice.so" \
  /usr/include/searchdevice/SearchDeviceLib.h /usr/include/searchdevice/deviceinfo.h \
  /usr/include/searchdevice/dhcppacket.h "$libdir/pkgconfig/searchdevice.pc" \
  "$libdir/cmake/searchdevice/searchdeviceConfig.cmake" "$libdir/cmake/searchdevice/searchdeviceConfigVersion.cmake" \
  "$libdir/cmake/searchdevice/searchdeviceTargets.cmake" /usr/share/doc/libsearchdevice-dev/copyright
refuse_files "$development_deb" 'libsearchdevice\.so\.|^/usr/bin'
pngs=()
for size in 16 24 32 48 64 128 256; do pngs+=("/usr/share/icons/hicolor/${size}x$size/apps/nasscout.png"); done
expect_files "$programs_deb" /usr/bin/nasscout /usr/bin/nasscout-cli /usr/bin/nasscout-sim /usr/bin/nasscout-lab \
  /usr/share/applications/nasscout.desktop /usr/share/icons/hicolor/scalable/apps/nasscout.svg "${pngs[@]}" \
  /usr/share/metainfo/io.github.nasscout.nasscout.metainfo.xml \
  /usr/share/man/man1/nasscout.1.gz /usr/share/man/man1/nasscout-cli.1.gz \
  /usr/share/man/man1/nasscout-sim.1.gz /usr/share/man/man1/nasscout-lab.1.gz \
  /etc/ufw/applications.d/nasscout /usr/lib/firewalld/services/nasscout.xml \
  /usr/share/doc/nasscout/copyright /usr/share/doc/nasscout/changelog.gz
refuse_files "$programs_deb" 'libsearchdevice|^/usr/include'
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
for needed in "libsearchdevice1 (= " libqt6widgets6 libboost-program-options libcap2-bin; do
  grep -qF "$needed" <<< "$depends" || fail "nasscout's Depends lacks $needed: $depends"
done
control_file "$programs_deb" conffiles | grep -qx /etc/ufw/applications.d/nasscout ||
  fail "the ufw profile is not a conffile"
control_file "$programs_deb" postinst | grep -q "setcap cap_net_bind_service=+ep" ||
  fail "nasscout's postinst does not set the capability"

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
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$library_deb" "$development_deb" "$programs_deb" \
  > "$work/install.log" 2>&1 || { cat "$work/install.log" >&2; fail "apt could not install the packages"; }

step "installed programs"
[ "$(command -v nasscout-cli)" = /usr/bin/nasscout-cli ] || fail "nasscout-cli is not /usr/bin/nasscout-cli"
setpriv --reuid=nobody --regid=nogroup --clear-groups /usr/bin/nasscout-cli --version | grep -q "$(control_field "$programs_deb" Version)" ||
  fail "nasscout-cli --version does not say the package's version"
/usr/bin/nasscout --version > /dev/null
for program in /usr/bin/nasscout /usr/bin/nasscout-cli; do
  getcap "$program" | grep -q "cap_net_bind_service=ep" || fail "$program lacks cap_net_bind_service: $(getcap "$program")"
done
find /usr/bin -name 'nasscout*' -perm /6000 | grep . && fail "a nasscout program is setuid or setgid"
desktop-file-validate /usr/share/applications/nasscout.desktop

# A device for every search below, on nasscout-lab's own private network.
lab=(nasscout-lab --device "ip=198.51.100.20,id=4f2a-77,host=nas1,vendor=ZORVA,product=NS200,detail=A1,version=2.1.0" --)

step "an unprivileged search includes the broadcast search"
mkdir -m 1777 "$work/log"
"${lab[@]}" setpriv --reuid=nobody --regid=nogroup --clear-groups \
  /usr/bin/nasscout-cli --seconds 3 --json --log "$work/log" > "$work/found.json" 2> "$work/cli.err" ||
  { cat "$work/cli.err" >&2; fail "nasscout-cli ended with an error"; }
grep -q '"host":"nas1"' "$work/found.json" || fail "nasscout-cli did not find the device: $(cat "$work/found.json")"
# The broadcast worker logs as "SendThread 67": it must have taken an answer.
grep -q "SendThread 67 : Handle Broadcast Recive Information Success" "$work/log"/* ||
  fail "the broadcast search of nasscout-cli, run by nobody, took no answer: $(grep -h 'SendThread 67 : .*Error' "$work/log"/*)"

step "the window, run by nobody, binds port 67 too"
# The window has no log: a shell in the finder host looks for its socket on
# port 67 while it searches (nothing else there binds it).
mkdir -m 1777 "$work/window"
install -d -o nobody -m 700 "$work/window/runtime"
"${lab[@]}" sh -c '
  setpriv --reuid=nobody --regid=nogroup --clear-groups env -i PATH=/usr/bin:/bin HOME="$1" \
    XDG_RUNTIME_DIR="$1/runtime" QT_QPA_PLATFORM=offscreen nasscout --screenshot "$1/window.png" > "$1/table.txt" 2>&1 &
  window=$!
  sleep 3
  ss -Hlun "sport = :67" > "$1/port67.txt"
  wait $window' sh "$work/window" || { cat "$work/window/table.txt" >&2; fail "the window ended with an error"; }
grep -q "nas1" "$work/window/table.txt" || fail "the window did not find the device: $(cat "$work/window/table.txt")"
grep -q ":67 " "$work/window/port67.txt" || fail "the window, run by nobody, did not open port 67"

step "a C program built against the installed library"
cc -std=c11 -Wall -Wextra -Werror tests/package/find_devices.c $(pkg-config --cflags --libs searchdevice) \
  -o "$work/find_devices_pkgconfig"
cmake -S tests/package -B "$work/consumer" -G Ninja > "$work/consumer.log" 2>&1 &&
  cmake --build "$work/consumer" >> "$work/consumer.log" 2>&1 || { cat "$work/consumer.log" >&2; fail "find_package(searchdevice)"; }
for program in "$work/find_devices_pkgconfig" "$work/consumer/find_devices"; do
  # /lib is /usr/lib on Debian 12: the loader may name either.
  ldd "$program" | grep -qE "libsearchdevice.so.1 => (/usr)?/lib/$multiarch/libsearchdevice.so.1 " ||
    fail "$program does not load the installed library"
  NASSCOUT_MACHINE_NETNS=$(stat -L -c %i /proc/self/ns/net) "${lab[@]}" "$program" > "$work/found.txt" 2>&1 &&
    grep -q "found nas1 at 198.51.100.20" "$work/found.txt" || fail "$program found no device: $(cat "$work/found.txt")"
done
