#!/bin/sh
# Builds small FAT12, FAT16 and FAT32 test images with the real tools
# (mkfs.fat and mtools): nested folders, long and non-ASCII names, empty
# files, deleted files and a deleted folder, a fragmented live file, a folder
# whose clusters are not contiguous, and a deleted file that was written
# around live files.
#
#   make-fat-images.sh OUTDIR [TYPE...]     (TYPE: fat12, fat16, fat32; all by default)
#
# Writes OUTDIR/fat12.img, fat16.img, fat32.img, and OUTDIR/src/ with the
# contents of the deleted files (deleted_frag-<type>.bin, trash1-<type>.txt)
# for checking what is read back.
set -eu

out=${1:?usage: make-fat-images.sh OUTDIR [TYPE...]}
shift
[ $# -gt 0 ] || set -- fat12 fat16 fat32
mkdir -p "$out/src"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT INT TERM

export MTOOLS_SKIP_CHECK=1
export LC_ALL=C.UTF-8
export MTOOLS_NO_VFAT=0

# random FILE BYTES
random() { head -c "$2" /dev/urandom > "$1"; }

build() {
  type=$1 img=$out/$type.img cluster=$2
  rm -f "$img"
  case $type in
    fat12) mkfs.fat -F 12 -s 1 -n QMFAT12 -i 12121212 -C "$img" 1440 > /dev/null ;;
    fat16) mkfs.fat -F 16 -s 4 -n QMFAT16 -i 16161616 -C "$img" 16384 > /dev/null ;;
    fat32) mkfs.fat -F 32 -s 1 -n QMFAT32 -i 32323232 -C "$img" 40960 > /dev/null ;;
  esac
  m() { cmd=$1; shift; "$cmd" -i "$img" "$@"; hint; }
  # FAT32 keeps a next-free hint that makes mtools append instead of
  # filling holes; forget it so that freed clusters are reused.
  hint() {
    if [ "$type" = fat32 ]; then
      printf '\377\377\377\377' | dd of="$img" bs=1 seek=$((512 + 492)) conv=notrunc status=none
    fi
  }
  d=$work/$type
  mkdir -p "$d/many"

  m mmd "::DOCS" "::DOCS/Sub Folder Long Name" "::DOCS/Sub Folder Long Name/deep" \
    "::Ünïcödé folder" "::EMPTYDIR" "::TRASH"
  printf 'read me\n' > "$d/readme.txt"
  random "$d/A long file name with spaces.txt" 3000
  printf 'café\n' > "$d/naïve café.txt"
  random "$d/日本語の名前.txt" 700
  random "$d/nested.dat" $((cluster * 3 + 100))
  : > "$d/empty.txt"
  : > "$d/EMPTY2.TXT"
  random "$d/MixedCase.Dat" 10
  random "$d/deleted1.txt" 1200
  random "$d/deleted long name.txt" 900
  random "$d/trash1.txt" 800
  random "$d/trash long name.dat" 1500
  m mcopy "$d/readme.txt" "$d/A long file name with spaces.txt" "$d/naïve café.txt" "$d/empty.txt" \
    "$d/MixedCase.Dat" "$d/deleted1.txt" ::
  m mcopy "$d/日本語の名前.txt" "::Ünïcödé folder"
  m mcopy "$d/nested.dat" "::DOCS/Sub Folder Long Name/deep"
  m mcopy "$d/EMPTY2.TXT" "$d/deleted long name.txt" ::DOCS
  m mcopy "$d/trash1.txt" "$d/trash long name.dat" ::TRASH

  # A live file written into the holes left by deleted small files.
  for i in 0 1 2 3 4 5 6 7; do random "$d/f$i.bin" "$cluster"; done
  m mcopy "$d/f0.bin" "$d/f1.bin" "$d/f2.bin" "$d/f3.bin" "$d/f4.bin" "$d/f5.bin" "$d/f6.bin" "$d/f7.bin" ::DOCS
  m mdel ::DOCS/f0.bin ::DOCS/f2.bin ::DOCS/f4.bin ::DOCS/f6.bin
  random "$d/fragmented.bin" $((cluster * 6 + 17))
  m mcopy "$d/fragmented.bin" ::DOCS

  # A folder that grows while other data is written: its clusters are not
  # contiguous.
  m mmd ::MANY
  i=0
  while [ $i -lt 40 ]; do
    random "$d/many/many file number $i.txt" $((cluster + i))
    i=$((i + 1))
  done
  m mcopy "$d/many/"* ::MANY

  # A file written around live files, then deleted: its data lies on the
  # clusters that are free now, not on the live files between them.
  for i in 0 1 2 3; do random "$d/h$i.bin" "$cluster"; done
  m mcopy "$d/h0.bin" "$d/h1.bin" "$d/h2.bin" "$d/h3.bin" ::
  m mdel ::h0.bin ::h2.bin
  random "$d/deleted_frag.bin" $((cluster * 3))
  m mcopy "$d/deleted_frag.bin" ::
  m mdel ::deleted_frag.bin
  cp "$d/deleted_frag.bin" "$out/src/deleted_frag-$type.bin"
  cp "$d/trash1.txt" "$out/src/trash1-$type.txt"

  # Deletions last, so that nothing overwrites them.
  m mdel ::deleted1.txt "::DOCS/deleted long name.txt"
  m mdeltree ::TRASH
}

for type in "$@"; do
  case $type in
    fat12) build fat12 512 ;;
    fat16) build fat16 2048 ;;
    fat32) build fat32 512 ;;
    *) echo "make-fat-images.sh: unknown type $type" >&2; exit 2 ;;
  esac
done
