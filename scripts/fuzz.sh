#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer in build-fuzz (or $NASSCOUT_FUZZ_DIR), then runs
# each one for SECONDS (default 60) from its seed corpus with its dictionary:
#
#   scripts/fuzz.sh [SECONDS]
#
# Prints the executions of each target. Fails when any target crashes,
# fails a check, leaks, hangs or runs out of memory; the input that did it
# is kept under <build>/fuzz-runs/<target>/findings/. What a run learns stays
# in <build>/fuzz-runs/<target>/corpus, so the next run goes on from there.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
[[ $seconds =~ ^[1-9][0-9]*$ ]] || { echo "usage: scripts/fuzz.sh [SECONDS]" >&2; exit 2; }
build=${NASSCOUT_FUZZ_DIR:-build-fuzz}
source_dir=$PWD

# Each target and the dictionary it uses.
targets=(ssdp_message:wire broadcast_reply:wire worker_stream:wire language_file:language
  sim_device_text:sim sim_device_file:sim sim_options:sim)

scripts/install-deps.sh
cmake --preset fuzz -B "$build"
cmake --build "$build" --target $(for entry in "${targets[@]}"; do printf '%s_fuzzer ' "${entry%%:*}"; done)
build=$(cd "$build" && pwd)

# No target opens a socket; as root each runs in a network namespace of its
# own all the same, which the kernel removes when the target ends.
isolate=()
[ "$(id -u)" -eq 0 ] && isolate=(unshare --net)

failed=()
summary=()
for entry in "${targets[@]}"; do
  name=${entry%%:*}
  run=$build/fuzz-runs/$name
  mkdir -p "$run/corpus" "$run/findings"
  echo "fuzz: $name for ${seconds}s"
  status=0
  # The target's working directory holds only its corpus and findings:
  # sim_options may read any file there as a device file.
  (cd "$run" && "${isolate[@]}" "$build/fuzz/${name}_fuzzer" \
    -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -dict="$source_dir/fuzz/${entry##*:}.dict" -artifact_prefix=findings/ \
    corpus "$source_dir/fuzz/corpus/$name") >"$run.log" 2>&1 || status=$?
  executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$run.log")
  summary+=("$(printf '%-16s %12s executions in %ss' "$name" "${executions:-?}" "$seconds")")
  if [ "$status" -ne 0 ]; then
    failed+=("$name")
    summary[-1]+="  FAILED (status $status; $run.log)"
    grep -E -A12 '^==[0-9]+==|check failed|^SUMMARY' "$run.log" | head -40 >&2 || true
  fi
done

printf '%s\n' "${summary[@]}"
if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz: failed: ${failed[*]}; the inputs are in $build/fuzz-runs/<target>/findings/" >&2
  exit 1
fi
