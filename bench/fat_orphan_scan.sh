#!/usr/bin/env bash
# Cost and strictness of the search for lost folders' entries on a 1 GiB
# FAT32 volume full of photos. Builds two images once (mkfs.fat, mtools, and
# real JPEGs made with ImageMagick, copied until the volume is full): the full
# volume as it is, and the same volume after a camera folder and a few single
# photos were deleted, so that its free clusters hold photo data. On each it
# times the file-system phase with and without the search
# (bench_fat_orphan_scan); the search must find nothing on either.
#
#   bench/fat_orphan_scan.sh [BUILD_DIR] [RUNS]      (defaults: build, 5)
#
# The images are kept as $QM_BENCH_DIR/fat32-photos-1g{,-deleted}.img
# (default /tmp/qm-bench).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build}
runs=${2:-5}
bench="$build/bench/bench_fat_orphan_scan"
[ -x "$bench" ] || { echo "bench_fat_orphan_scan not found in $build/bench (build it first)" >&2; exit 2; }

cache=${QM_BENCH_DIR:-/tmp/qm-bench}
full="$cache/fat32-photos-1g.img"
deleted="$cache/fat32-photos-1g-deleted.img"
mkdir -p "$cache"
export MTOOLS_SKIP_CHECK=1 LC_ALL=C.UTF-8
if [ ! -s "$full" ]; then
  work=$(mktemp -d "${TMPDIR:-/tmp}/qm-fat-photos.XXXXXX")
  trap 'rm -rf "$work"' EXIT
  echo "making photos..." >&2
  for i in 1 2 3 4 5 6; do
    convert -seed "$i" -size 2400x1600 plasma:fractal -attenuate 0.6 +noise Gaussian -quality 92 "$work/p$i.jpg"
  done
  # Ten camera folders of 80 photos each: more than the volume holds.
  for d in 0 1 2 3 4 5 6 7 8 9; do
    mkdir -p "$work/DCIM/10${d}PHOTO"
    for n in $(seq 1 80); do
      ln "$work/p$(( (d * 80 + n) % 6 + 1 )).jpg" "$work/DCIM/10${d}PHOTO/IMG_$(printf '%04d' $((d * 80 + n))).JPG"
    done
  done
  rm -f "$full.part"
  mkfs.fat -F 32 -n PHOTOS -C "$full.part" $((1024 * 1024)) > /dev/null
  echo "filling the volume..." >&2
  mcopy -s -i "$full.part" "$work/DCIM" :: 2> /dev/null || true  # stops when the volume is full
  mv "$full.part" "$full"
  rm -f "$deleted"
fi
if [ ! -s "$deleted" ]; then
  cp "$full" "$deleted.part"
  # A deleted camera folder and a few deleted photos: their clusters, now
  # free, hold photo data.
  mdeltree -i "$deleted.part" ::DCIM/102PHOTO
  mdel -i "$deleted.part" ::DCIM/101PHOTO/IMG_0090.JPG ::DCIM/101PHOTO/IMG_0091.JPG ::DCIM/100PHOTO/IMG_0010.JPG
  mv "$deleted.part" "$deleted"
fi
for img in "$full" "$deleted"; do
  free=$(python3 - "$img" <<'PY'
import struct, sys
with open(sys.argv[1], "rb") as f:
    b = f.read(512)
    spc, res, fats, fsz = b[13], struct.unpack("<H", b[14:16])[0], b[16], struct.unpack("<I", b[36:40])[0]
    total = (struct.unpack("<I", b[32:36])[0] - res - fats * fsz) // spc
    f.seek(res * 512)
    fat = f.read(fsz * 512)
free = sum(1 for c in range(2, total + 2) if struct.unpack_from("<I", fat, c * 4)[0] & 0x0FFFFFFF == 0)
print("%.1f MiB free" % (free * spc * 512 / 2**20))
PY
)
  echo "== $img: $(mdir -i "$img" -/ :: 2> /dev/null | grep -c JPG) photos listed, $free"
  cat "$img" > /dev/null  # into the page cache
  nice -n 19 "$bench" "$img" "$runs"
done
