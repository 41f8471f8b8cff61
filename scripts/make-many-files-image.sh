#!/usr/bin/env bash
# Makes an image of SIZE_MIB MiB holding a small real JPEG every STEP_KIB
# KiB and nothing else (no file system): the sector scan finds tens of
# thousands of lost files in it. Used by the responsiveness bench and the
# running-scan screenshot.
#   make-many-files-image.sh OUT.img [SIZE_MIB=1024] [STEP_KIB=16]
set -euo pipefail
out=${1:?usage: make-many-files-image.sh OUT.img [SIZE_MIB] [STEP_KIB]}
size_mib=${2:-1024}
step_kib=${3:-16}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
convert -size 48x32 gradient:orange-navy "$work/small.jpg"
python3 - "$out" "$size_mib" "$step_kib" "$work/small.jpg" <<'PY'
import sys
out, size_mib, step_kib, jpeg = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4]
data = open(jpeg, 'rb').read()
step = step_kib * 1024
size = size_mib * 1024 * 1024
if len(data) > step:
    sys.exit("the JPEG is larger than the step")
with open(out, 'wb') as f:
    f.truncate(size)
    for offset in range(0, size - step + 1, step):
        f.seek(offset)
        f.write(data)
print(f"{out}: {size // step} JPEG files, one every {step_kib} KiB")
PY
