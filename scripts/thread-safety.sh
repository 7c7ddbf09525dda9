#!/usr/bin/env bash
# Builds the engine and the device store with clang's thread-safety analysis
# and fails on any of its warnings: every GUARDED_BY, REQUIRES and EXCLUDES
# is checked against the code that takes the locks.
set -euo pipefail
cd "$(dirname "$0")/.."

build=build-thread-safety
scripts/install-deps.sh
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_CXX_FLAGS="-Wthread-safety -Werror=thread-safety" \
  -DNASSCOUT_BUILD_GUI=OFF -DNASSCOUT_BUILD_TOOLS=OFF -DNASSCOUT_BUILD_TESTS=OFF -DNASSCOUT_BUILD_BENCH=OFF
cmake --build "$build" --target searchdevice_core searchdevice devicestore
