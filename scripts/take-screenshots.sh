#!/usr/bin/env bash
# Takes the README's screenshots of the desktop program under Xvfb: the
# drives pane, a folder with deleted files, the data viewer on a JPEG, the
# search results, a running scan, and the Recover, progress and probable-size
# dialogs of a recovery; the nine-step wizard's welcome page, a sector scan
# under way in it and its summary.
#   take-screenshots.sh [BUILD_DIR=build] [OUTPUT_DIR=docs/screenshots]
set -euo pipefail
build=${1:-build}
output=${2:-docs/screenshots}
here=$(cd "$(dirname "$0")/.." && pwd)
cmake --build "$build" --target ui_screenshots >/dev/null
# The image of many files is kept between runs (making it writes 1 GiB).
image=${QM_BENCH_IMAGE:-${TMPDIR:-/tmp}/quillmore-many-files-1g.img}
[ -f "$image" ] || bash "$here/scripts/make-many-files-image.sh" "$image" 1024 16 >/dev/null
trap '[ -n "${xvfb_pid:-}" ] && kill "$xvfb_pid" 2>/dev/null || true' EXIT

# A free display number for the virtual X server.
display=90
while [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ]; do display=$((display + 1)); done
Xvfb ":$display" -screen 0 1160x780x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$display" ] && break; sleep 0.1; done

DISPLAY=":$display" QT_QPA_PLATFORM=xcb "$build/tests/ui_screenshots" "$output" "$image"
