#!/bin/sh
# Builds FAT12, FAT16 and FAT32 images (mkfs.fat and mtools) where folders
# holding files were deleted and their own entries are gone: a folder OLD
# with a subfolder and files under long names is deleted with mdeltree, and
# an empty file written afterwards takes OLD's slot in the root. OLD's
# entries then lie in free clusters that no directory leads to (Sleuth
# Kit's fls lists them under $OrphanFiles), some of them past OLD's first
# cluster. A live folder and a deleted folder whose entry survives sit
# beside them. A copy of that image is then quick-formatted (mkfs.fat
# again: new FATs and an empty root, the data area as it was), which turns
# every folder into a lost one.
#
#   make-fat-orphan-images.sh OUTDIR [TYPE...]   (TYPE: fat12, fat16, fat32; all by default)
#
# Writes OUTDIR/TYPE-orphans.img, OUTDIR/TYPE-formatted.img and
# OUTDIR/src-TYPE/ with every file that was written (each of its own size,
# so a recovered file is matched by it).
set -eu

out=${1:?usage: make-fat-orphan-images.sh OUTDIR [TYPE...]}
shift
[ $# -gt 0 ] || set -- fat12 fat16 fat32

export MTOOLS_SKIP_CHECK=1
export LC_ALL=C.UTF-8
export MTOOLS_NO_VFAT=0

build() {
  type=$1
  img=$out/$type-orphans.img
  src=$out/src-$type
  rm -rf "$img" "$src"
  mkdir -p "$src/old" "$src/sub" "$src/keep" "$src/gone"
  case $type in
    fat12) format="-F 12 -s 1" blocks=1440 ;;
    fat16) format="-F 16 -s 4" blocks=16384 ;;
    fat32) format="-F 32 -s 1" blocks=40960 ;;
  esac
  # shellcheck disable=SC2086
  mkfs.fat $format -n ORPHANS -C "$img" $blocks > /dev/null
  m() { cmd=$1; shift; "$cmd" -i "$img" "$@"; }

  # Sizes differ from file to file (1000 + 317 * n bytes).
  n=0
  random() { n=$((n + 1)); head -c $((1000 + 317 * n)) /dev/urandom > "$1"; }
  i=1
  while [ $i -le 30 ]; do
    random "$src/old/old photo number $i.jpg"
    i=$((i + 1))
  done
  random "$src/old/Ünïcödé naïve file.txt"
  random "$src/old/SHORT.TXT"
  random "$src/sub/nested file in sub.dat"
  random "$src/sub/NESTED.BIN"
  random "$src/keep/kept file.txt"
  random "$src/gone/gone but listed.txt"

  m mmd ::OLD ::OLD/SUB ::KEEP ::GONE
  m mcopy "$src/old/"* ::OLD
  m mcopy "$src/sub/"* ::OLD/SUB
  m mcopy "$src/keep/"* ::KEEP
  m mcopy "$src/gone/"* ::GONE
  m mdeltree ::OLD ::GONE
  # OLD held the root's first slot: an empty short-named file takes it (and
  # no cluster), so nothing leads to OLD's clusters any more.
  : > "$src/NEW1.TXT"
  m mcopy "$src/NEW1.TXT" ::NEW1.TXT

  cp "$img" "$out/$type-formatted.img"
  # shellcheck disable=SC2086
  mkfs.fat $format -n FORMATTED "$out/$type-formatted.img" > /dev/null
}

for type in "$@"; do
  case $type in
    fat12 | fat16 | fat32) build "$type" ;;
    *) echo "make-fat-orphan-images.sh: unknown type $type" >&2; exit 2 ;;
  esac
done
