#!/usr/bin/env bash
# Builds the exFAT test image with the real tools: mkfs.exfat on an image
# file, files written and deleted through the FUSE driver over a loop device
# (needs root and /dev/fuse).
#
#   scripts/make-exfat-images.sh OUTDIR
#
# Writes into OUTDIR:
#   tree.img.zst   the image, compressed
#   tree.fls       `fls -r -p` of the image (the listing the parser must match)
#   tree.live      every path still present (files and folders)
#   tree.manifest  one line per file: state (live/deleted), size, sha256 of
#                   the content written, path
#
# The image holds nested folders with long and non-ASCII names, contiguous
# files, files forced into fragments (chained in the FAT), empty files, and
# deleted files and a deleted folder whose clusters are not reused.
set -euo pipefail

out=${1:?usage: make-exfat-images.sh OUTDIR}
mkdir -p "$out"
out=$(cd "$out" && pwd)
for tool in mkfs.exfat mount.exfat-fuse losetup fls icat zstd sha256sum python3; do
  command -v "$tool" >/dev/null || { echo "missing tool: $tool" >&2; exit 1; }
done
[ "$(id -u)" -eq 0 ] || { echo "needs root for the loop device" >&2; exit 1; }

work=$(mktemp -d /tmp/qm-exfat.XXXXXX)
mnt="$work/mnt"
img="$work/tree.img"
mkdir -p "$mnt"
loop=
cleanup() {
  mountpoint -q "$mnt" && umount "$mnt" || true
  [ -n "$loop" ] && losetup -d "$loop" || true
  rm -rf "$work"
}
trap cleanup EXIT

# Deterministic test content (see write-test-files.py).
gen() { python3 "$(dirname "$0")/write-test-files.py"; }

truncate -s 32M "$img"
mkfs.exfat -c 4K -L "QM exFAT" "$img" >/dev/null
loop=$(losetup -f --show "$img")
mount.exfat-fuse "$loop" "$mnt" >/dev/null

files="$work/files"
: >"$files"
put() {  # put RELPATH BYTES
  mkdir -p "$(dirname "$mnt/$1")"
  printf '%s %s\n' "$2" "$mnt/$1" >>"$files"
}

put "DCIM/100CAMERA/IMG_0001.JPG" 150000
put "DCIM/100CAMERA/IMG_0002.JPG" 90000
put "Documents/Überweisung März.txt" 3000
put "Documents/Ελληνικά/αρχείο.txt" 700
put "日本語フォルダ/ファイル名.txt" 5000
put "Documents/$(printf 'long_name_%.0s' {1..20})end.txt" 1200
mkdir -p "$mnt/Empty folder" "$mnt/a/b/c/d"
put "a/b/c/d/deep.txt" 10
for i in $(seq 1 40); do put "small/file_$i.txt" $(( (i * 37) % 6000 + 1 )); done
put "trash/deleted_one.txt" 9000
put "trash/deleted_small.txt" 300
put "gone/inner_a.txt" 20000
put "gone/inner_b.txt" 400
put "gone/sub/inner_c.txt" 6000
gen <"$files"
: >"$mnt/small/empty.txt"
sync

# Fragmentation: one-cluster fillers, every other one freed, large files
# written into the holes.
for i in $(seq 1 600); do echo "4096 $mnt/filler_$i.tmp"; done | gen
sync
for i in $(seq 1 2 600); do rm -f "$mnt/filler_$i.tmp"; done
sync
mkdir -p "$mnt/large"
printf '%s\n' "300000 $mnt/large/fragmented_1.bin" "200000 $mnt/large/fragmented_2.bin" | gen
sync
for i in $(seq 2 2 600); do rm -f "$mnt/filler_$i.tmp"; done
sync

manifest_tmp="$work/paths"
(cd "$mnt" && find . -type f -print0 | sort -z | while IFS= read -r -d '' f; do
  printf '%s\t%s\n' "$(stat -c %s "$f")" "${f#./}"
  sha256sum "$f" | cut -d' ' -f1
done) >"$manifest_tmp"
rm -f "$mnt/trash/deleted_one.txt" "$mnt/trash/deleted_small.txt"
rm -rf "$mnt/gone"
sync
(cd "$mnt" && find . -mindepth 1 | sed 's|^\./||' | sort) >"$out/tree.live"
umount "$mnt"
losetup -d "$loop"
loop=

python3 - "$manifest_tmp" "$out/tree.live" >"$out/tree.manifest" <<'EOF'
import sys
lines = open(sys.argv[1], encoding="utf-8").read().split("\n")
live = set(open(sys.argv[2], encoding="utf-8").read().splitlines())
for i in range(0, len(lines) - 1, 2):
    size, path = lines[i].split("\t")
    digest = lines[i + 1]
    state = "live" if path in live else "deleted"
    print(f"{state}\t{size}\t{digest}\t{path}")
EOF
fls -r -p "$img" >"$out/tree.fls"

zstd -q -19 -f "$img" -o "$out/tree.img.zst"
echo "wrote $out/tree.img.zst ($(stat -c %s "$out/tree.img.zst") bytes)"
