#!/usr/bin/env bash
# The main job on the bundled sample image, as far as the command line goes.
set -euo pipefail
build=${1:-build}
sample=${2:-data/samples/sample-fat32.img}
if [ ! -f "$sample" ] && [ -f "$sample.zst" ]; then
  zstd -q -d -f "$sample.zst" -o "$sample"
fi
"$build/quillmore-cli" --help
