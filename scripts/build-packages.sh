#!/usr/bin/env bash
# Builds the Debian packages libsearchdevice1, libsearchdevice-dev and
# nasscout (README, Install the Debian packages) into BUILD_DIR, build-package
# by default: a Release build for the prefix /usr with Debian's hardening
# flags, then CPack. The .deb files are left in BUILD_DIR.
# Usage: scripts/build-packages.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${1:-build-package}

scripts/install-deps.sh

# The flags a Debian package is built with: fortified, with a read-only
# relocation table and position-independent programs.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cppflags=$(dpkg-buildflags --get CPPFLAGS)
ldflags=$(dpkg-buildflags --get LDFLAGS)

cmake --preset package -B "$build_dir" \
  -DCMAKE_C_FLAGS="$(dpkg-buildflags --get CFLAGS) $cppflags" \
  -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CXXFLAGS) $cppflags" \
  -DCMAKE_EXE_LINKER_FLAGS="$ldflags" -DCMAKE_SHARED_LINKER_FLAGS="$ldflags"
rm -f "$build_dir"/*.deb
cmake --build "$build_dir" --target package
ls "$build_dir"/*.deb
