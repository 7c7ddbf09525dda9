#!/usr/bin/env bash
# The soak: `scripts/soak.sh [SECONDS] [BUILD_DIR]` builds nasscout-cli, the
# simulator and the soak test in BUILD_DIR (default build), then floods
# nasscout-cli --watch with hostile datagrams for SECONDS (default 60) on a
# private network of namespaces, prints the figures and fails when the watch
# died, lost a device, listed a stranger, grew or did not stop on SIGTERM.
# Needs root, for the namespaces. The ThreadSanitizer build of
# `scripts/sanitize.sh thread` works too, with a shorter time:
# `scripts/soak.sh 20 build-thread`.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
build=${2:-build}
if [ "$(id -u)" -ne 0 ]; then
  echo "scripts/soak.sh: needs root for its private network namespaces; run 'sudo scripts/soak.sh'" >&2
  exit 1
fi
if [ ! -f "$build/build.ninja" ]; then
  scripts/install-deps.sh
  cmake --preset tests -B "$build"
fi
cmake --build "$build" --target nasscout-cli nasscout-sim soak_test

# On a sanitizer build the soak paces its flood itself; a report ends the program.
export TSAN_OPTIONS="${TSAN_OPTIONS:-halt_on_error=1 second_deadlock_stack=1}"
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"

# The test's own watchdogs end it; timeout is the last word should they not.
NASSCOUT_SOAK_SECONDS=$seconds timeout --kill-after=10 $((seconds + 120)) "$build/tests/soak/soak_test"
