#!/usr/bin/env bash
# The main job on the bundled sample image, as far as the command line goes:
# the boot sector, the file list, and the recovery of every file into
# ./recovered.
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
  echo "== Recovering every file of $sample into ./recovered"
  # The sample is an image file, so writing beside it cannot overwrite the
  # data being recovered.
  "$cli" recover "$sample" --to recovered --allow-same-drive
fi
