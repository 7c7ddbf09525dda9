#!/usr/bin/env bash
# The window demo without a display, run by nasscout-lab in the finder host:
# Xvfb, then nasscout --screenshot on it, the picture and the window's output
# in the folder DIR. Xvfb picks a free display number itself and writes it to
# -displayfd once it accepts clients. It listens on the abstract socket only,
# which lives in the finder's namespace, so nobody outside can connect. A
# socket file would do harm: Xvfb looks for a taken number on the abstract
# socket alone, so it would replace the file /tmp/.X11-unix/X<n> of a
# display the machine already runs.
# Usage: xvfb-window.sh DIR NASSCOUT   (status 125: no Xvfb; 124: nasscout
# did not end within 40 s; else nasscout's)
set -uo pipefail
dir=$1 app=$2
shift 2  # the rest: the window's options

Xvfb -displayfd 3 -nolisten tcp -nolisten unix -screen 0 1024x768x24 3>"$dir/xvfb.display" >"$dir/xvfb.log" 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null; wait $xvfb' EXIT
deadline=$((SECONDS + 15))
until grep -q "^[0-9]" "$dir/xvfb.display" 2>/dev/null; do
  [ "$SECONDS" -lt "$deadline" ] || exit 125
  sleep 0.1
done
export DISPLAY=:$(head -n 1 "$dir/xvfb.display")
echo "   No usable display here: it runs on a private Xvfb display ($DISPLAY) and, after"
echo "   the search window, saves a picture of itself and prints its table."
timeout 40 "$app" "$@" --screenshot "$dir/nasscout-window.png" >"$dir/window.out" 2>"$dir/window.err"
