#!/usr/bin/env bash
# The terminal demo's watch, run by nasscout-lab in the finder host:
# nasscout-cli --watch writing to FILE, shown as it goes, until the device
# at LEAVING_IP has left with a bye-bye (at most 20 s); then SIGTERM ends the
# watch, and its status is this script's.
# Usage: watch.sh NASSCOUT_CLI FILE LEAVING_IP [NASSCOUT_CLI_OPTION...]
set -uo pipefail
cli=$1 file=$2 leaving=$3
shift 3  # the rest: nasscout-cli's options

: >"$file"
"$cli" --watch --interval 3 "$@" >"$file" &
watch=$!
tail -n +1 -f --pid="$watch" "$file" &
deadline=$((SECONDS + 20))
until grep -q -- "left .*ip=$leaving .*(bye-bye)" "$file"; do
  [ "$SECONDS" -lt "$deadline" ] || break
  sleep 0.1
done
kill -TERM "$watch"
status=0
wait "$watch" || status=$?
wait
exit "$status"
