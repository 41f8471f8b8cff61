#!/usr/bin/env bash
# The main job on the bundled sample image, as far as the command line goes:
# the boot sector, the file list, and the recovery of every live, deleted
# and lost file into ./recovered, ending with the recovery's summary.
set -euo pipefail
build=${1:-build}
sample=${2:-data/samples/sample-fat32.img}
cli="$build/quillmore-cli"
if [ ! -f "$sample" ] && [ -f "$sample.zst" ]; then
  zstd -q -d -f "$sample.zst" -o "$sample"
fi
has() { "$cli" --help | grep -q "^  $1 "; }

echo "== Boot sector of $sample"
"$cli" dump "$sample" --sector 0
if has list; then
  echo
  echo "== Files and folders on $sample"
  "$cli" list "$sample"
fi
if has recover; then
  echo
  echo "== Recovering the live, deleted and lost files of $sample into ./recovered"
  # A ./recovered left by an earlier run of this script is replaced; any
  # other ./recovered is kept (recovered files never replace files there:
  # they take a free name beside them).
  marker=recovered/.made-by-make-run
  if [ -f "$marker" ]; then rm -rf recovered; fi
  made_here=0
  [ -e recovered ] || made_here=1
  # The sample is an image file, so writing beside it cannot overwrite the
  # data being recovered. Lost files found by the sector scan get the size up
  # to the next file found on the volume.
  status=0
  "$cli" recover "$sample" --to recovered --scan --lost-size next --allow-same-drive || status=$?
  if [ "$made_here" = 1 ] && [ -d recovered ]; then : >"$marker"; fi
  exit "$status"
fi
