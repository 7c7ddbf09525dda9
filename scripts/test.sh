#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test.
# Needs root (or sudo) for the packages and for the tests' private network
# namespaces; every socket test runs in a namespace of its own, so nothing
# it sends reaches the machine's network.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
build=${NASSCOUT_BUILD_DIR:-build}
cmake --preset tests -B "$build"
cmake --build "$build"
# Tests may run side by side: each test process has a network of its own.
ctest --test-dir "$build" --output-on-failure --parallel 2
