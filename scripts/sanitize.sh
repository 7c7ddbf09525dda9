#!/usr/bin/env bash
# Builds the engine, the tools and their tests with one sanitizer and runs
# the tests: `scripts/sanitize.sh thread` or `scripts/sanitize.sh address`
# (AddressSanitizer with UndefinedBehaviorSanitizer).
set -euo pipefail
cd "$(dirname "$0")/.."

kind=${1:?usage: scripts/sanitize.sh thread|address}
case $kind in thread | address) ;; *) echo "usage: scripts/sanitize.sh thread|address" >&2; exit 2 ;; esac
build=build-$kind
scripts/install-deps.sh
cmake --preset "$kind"
cmake --build "$build"
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$PWD/scripts/tsan.supp"
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
ctest --test-dir "$build" --output-on-failure --parallel 2
