#!/bin/sh
# Builds whole-disk test images with the real tools: sfdisk writes the
# partition tables, mkfs.fat and mtools make and fill the FAT partitions on
# files of their own that are then written into place, and the NTFS test
# volume of tests/data/ntfs (made by mkntfs and ntfs-3g) is written into an
# NTFS partition.
#
#   make-disk-images.sh OUTDIR
#
# Writes into OUTDIR:
#   mbr.img   MBR: 1 FAT16, 2 NTFS, 3 extended holding 5 FAT32 and 6 FAT12
#   gpt.img   GPT: 1 FAT32 named "EFI-DATA", 2 NTFS named "DATA"
#   layout    one line per partition: image, number, start sector, sectors,
#             file system, label
#   manifest  one line per file written: image, partition number, state
#             (live or deleted), sha256 of its content, path
set -eu

out=${1:?usage: make-disk-images.sh OUTDIR}
mkdir -p "$out"
out=$(cd "$out" && pwd)
here=$(cd "$(dirname "$0")/.." && pwd)
for tool in sfdisk mkfs.fat mcopy mdel zstd sha256sum; do
  command -v "$tool" >/dev/null || { echo "missing tool: $tool" >&2; exit 1; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT INT TERM
export MTOOLS_SKIP_CHECK=1 LC_ALL=C.UTF-8
: > "$out/layout"
: > "$out/manifest"

# fat IMAGE NUMBER TYPE SECTORS LABEL: a FAT volume with a few files and
# folders, two of them deleted, made in $work/part.img.
fat() {
  disk=$1 number=$2 type=$3 sectors=$4 label=$5
  part=$work/part.img
  rm -f "$part"
  mkfs.fat -F "$type" -s 1 -n "$label" -C "$part" $((sectors / 2)) > /dev/null
  mkdir -p "$work/files/docs"
  i=0
  for size in 700 5000 40000 130000 3; do
    i=$((i + 1))
    head -c "$size" /dev/urandom > "$work/files/file$i.bin"
  done
  head -c 9000 /dev/urandom > "$work/files/docs/report.txt"
  head -c 26000 /dev/urandom > "$work/files/docs/old notes.txt"
  mmd -i "$part" ::/docs
  for f in file1.bin file2.bin file3.bin file4.bin file5.bin; do mcopy -i "$part" "$work/files/$f" ::/; done
  mcopy -i "$part" "$work/files/docs/report.txt" "$work/files/docs/old notes.txt" ::/docs/
  mdel -i "$part" ::/file3.bin "::/docs/old notes.txt"
  for f in file1.bin file2.bin file4.bin file5.bin docs/report.txt; do
    echo "$disk $number live $(sha256sum < "$work/files/$f" | cut -d' ' -f1) $f" >> "$out/manifest"
  done
  for f in file3.bin "docs/old notes.txt"; do
    echo "$disk $number deleted $(sha256sum < "$work/files/$f" | cut -d' ' -f1) $f" >> "$out/manifest"
  done
}

# place IMAGE NUMBER START: writes $work/part.img into the disk image.
place() {
  dd if="$work/part.img" of="$out/$1" bs=512 seek="$3" conv=notrunc status=none
}

ntfs() {
  disk=$1 number=$2
  zstd -dcq "$here/tests/data/ntfs/basic.img.zst" > "$work/part.img"
  awk -v d="$disk" -v n="$number" -F'\t' '{ print d, n, $2, $4, $5 }' "$here/tests/data/ntfs/basic.manifest" \
    >> "$out/manifest"
}

# The MBR disk (78 MiB).
rm -f "$out/mbr.img"
truncate -s $((159744 * 512)) "$out/mbr.img"
sfdisk -q "$out/mbr.img" > /dev/null <<TABLE
label: dos
start=2048, size=16384, type=6
start=18432, size=49152, type=7
start=67584, size=92160, type=5
start=69632, size=81920, type=c
start=153600, size=4096, type=1
TABLE
fat mbr.img 1 16 16384 QMPART1; place mbr.img 1 2048
ntfs mbr.img 2; place mbr.img 2 18432
fat mbr.img 5 32 81920 QMPART5; place mbr.img 5 69632
fat mbr.img 6 12 4096 QMPART6; place mbr.img 6 153600
cat >> "$out/layout" <<LAYOUT
mbr.img 1 2048 16384 FAT16 QMPART1
mbr.img 2 18432 49152 NTFS -
mbr.img 5 69632 81920 FAT32 QMPART5
mbr.img 6 153600 4096 FAT12 QMPART6
LAYOUT

# The GPT disk (70 MiB).
rm -f "$out/gpt.img"
truncate -s $((143360 * 512)) "$out/gpt.img"
sfdisk -q "$out/gpt.img" > /dev/null <<TABLE
label: gpt
start=2048, size=81920, type=EBD0A0A2-B9E5-4433-87C0-68B6B72699C7, name="EFI-DATA"
start=83968, size=49152, type=EBD0A0A2-B9E5-4433-87C0-68B6B72699C7, name="DATA"
TABLE
fat gpt.img 1 32 81920 QMGPT1; place gpt.img 1 2048
ntfs gpt.img 2; place gpt.img 2 83968
cat >> "$out/layout" <<LAYOUT
gpt.img 1 2048 81920 FAT32 QMGPT1
gpt.img 2 83968 49152 NTFS -
LAYOUT
