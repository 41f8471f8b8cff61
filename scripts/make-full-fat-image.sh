#!/usr/bin/env bash
# Builds a FAT16 volume that is mostly full, for the free-space sector scan:
#   full-fat.img      16 MiB, 2 KiB clusters; a large live file fills most of
#                     it, with a PNG stored inside it at a sector boundary
#                     (found by a scan of every sector, not by a scan of the
#                     free clusters); a deleted JPEG whose clusters are free;
#                     a PNG written into free clusters near the end that no
#                     directory entry names.
#   full-fat.offsets  "name byte-offset" of the three planted files.
#   full-fat.free     free bytes as mtools counts them (mdir).
#   deleted.jpg, lost.png, inside.png  the planted files themselves.
#
#   scripts/make-full-fat-image.sh OUTPUT_DIR
# Needs mkfs.fat (dosfstools), mtools, ImageMagick and python3.
set -euo pipefail
out=${1:?usage: make-full-fat-image.sh OUTPUT_DIR}
mkdir -p "$out"
export LC_ALL=C.UTF-8 MTOOLS_SKIP_CHECK=1 TZ=UTC
img="$out/full-fat.img"
rm -f "$img"
mkfs.fat -F 16 -s 4 -S 512 -n FULLVOL -i 0F0F0F0F -C "$img" 16384 >/dev/null

convert -size 160x120 -seed 5 plasma:orange-purple -quality 80 "$out/deleted.jpg"
convert -size 64x48 gradient:teal-khaki -depth 8 "png:$out/lost.png"
convert -size 96x64 gradient:maroon-white -depth 8 "png:$out/inside.png"
# 13 MiB of a plain pattern with the PNG at 1 MiB into the file.
python3 - "$out" <<'PY'
import os, sys
d = sys.argv[1]
fill = bytearray(b"QMFILL--" * (13 * 1024 * 1024 // 8))
inside = open(os.path.join(d, "inside.png"), "rb").read()
fill[1 << 20:(1 << 20) + len(inside)] = inside
open(os.path.join(d, "filler.bin"), "wb").write(fill)
PY

mcopy -i "$img" "$out/filler.bin" ::/FILLER.BIN
mcopy -i "$img" "$out/deleted.jpg" ::/PHOTO.JPG
# Where the files' data lie: the first cluster of each, from the directory.
first_cluster() { mshowfat -i "$img" "::/$1" | sed -n 's/^.*<\([0-9]*\)[->].*$/\1/p' | head -n1; }
filler_cluster=$(first_cluster FILLER.BIN)
photo_cluster=$(first_cluster PHOTO.JPG)
mdel -i "$img" ::/PHOTO.JPG
python3 - "$img" "$out" "$filler_cluster" "$photo_cluster" <<'PY'
import struct, sys
img, out, filler_cluster, photo_cluster = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
boot = open(img, "rb").read(512)
bps, spc, reserved, fats, root_entries = struct.unpack_from("<HBHBH", boot, 11)
total = struct.unpack_from("<H", boot, 19)[0] or struct.unpack_from("<I", boot, 32)[0]
fat_sectors = struct.unpack_from("<H", boot, 22)[0]
first_data = reserved + fats * fat_sectors + (root_entries * 32 + bps - 1) // bps
def offset(cluster):
    return (first_data + (cluster - 2) * spc) * bps
clusters = (total - first_data) // spc
# The lost PNG: eight clusters before the end of the data area, free space.
lost_offset = offset(2 + clusters - 8)
png = open(out + "/lost.png", "rb").read()
with open(img, "r+b") as f:
    f.seek(lost_offset)
    f.write(png)
with open(out + "/full-fat.offsets", "w") as f:
    f.write("inside.png %d\n" % (offset(filler_cluster) + (1 << 20)))
    f.write("deleted.jpg %d\n" % offset(photo_cluster))
    f.write("lost.png %d\n" % lost_offset)
PY
mdir -i "$img" :: | sed -n 's/^ *\([0-9 ]*\) bytes free.*$/\1/p' | tr -d ' ' > "$out/full-fat.free"
