#!/usr/bin/env bash
# The interface thread's longest pause while a scan of a 1 GiB image finds
# tens of thousands of files (a JPEG every 16 KiB: 65,536 of them).
#   bench/gui_responsiveness.sh [BUILD_DIR=build] [--found-names]
# (--found-names: every file found also goes to the log pane.)
set -euo pipefail
build=${1:-build}
here=$(cd "$(dirname "$0")/.." && pwd)
cmake --build "$build" --target ui_responsiveness >/dev/null
# The image is kept between runs (making it writes 1 GiB).
image=${QM_BENCH_IMAGE:-${TMPDIR:-/tmp}/quillmore-many-files-1g.img}
[ -f "$image" ] || bash "$here/scripts/make-many-files-image.sh" "$image" 1024 16
QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen} "$build/tests/ui_responsiveness" "$image" ${2:-}
