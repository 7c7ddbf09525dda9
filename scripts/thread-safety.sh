#!/usr/bin/env bash
# Builds the engine, the device store and the DNS-SD source with clang's thread-safety analysis
# and fails on any of its warnings: every GUARDED_BY, REQUIRES and EXCLUDES
# is checked against the code that takes the locks.
set -euo pipefail
cd "$(dirname "$0")/.."

build=build-thread-safety
scripts/install-deps.sh
cmake --preset thread-safety
cmake --build "$build" --target searchdevice_core searchdevice devicestore dnssd_source
