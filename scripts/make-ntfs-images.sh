#!/usr/bin/env bash
# Builds the NTFS test image with the real tools: mkntfs on an image file,
# files written and deleted through an ntfs-3g loop mount (needs root).
#
#   scripts/make-ntfs-images.sh OUTDIR
#
# Writes into OUTDIR:
#   basic.img.zst   the image, compressed
#   basic.fls       `fls -r -p` of the image (the listing the parser must match)
#   basic.live      every path still present (files and folders)
#   basic.manifest  one line per file: inode, state (live/deleted), size,
#                   sha256 of the content written, path
#
# The image holds a folder tree with non-ASCII and long names, many small
# files whose data stay inside their MFT records, large files forced into
# many fragments (one so fragmented that its runs spill into extension
# records through an attribute list), a sparse file, and deleted files and a
# deleted folder whose clusters are not reused afterwards.
set -euo pipefail

out=${1:?usage: make-ntfs-images.sh OUTDIR}
mkdir -p "$out"
out=$(cd "$out" && pwd)
for tool in mkntfs ntfs-3g fls icat istat zstd sha256sum python3; do
  command -v "$tool" >/dev/null || { echo "missing tool: $tool" >&2; exit 1; }
done
[ "$(id -u)" -eq 0 ] || { echo "needs root for the loop mount" >&2; exit 1; }

work=$(mktemp -d /tmp/qm-ntfs.XXXXXX)
mnt="$work/mnt"
img="$work/basic.img"
mkdir -p "$mnt"
cleanup() {
  mountpoint -q "$mnt" && umount "$mnt" || true
  rm -rf "$work"
}
trap cleanup EXIT

# Deterministic test content (see write-test-files.py).
gen() { python3 "$(dirname "$0")/write-test-files.py"; }

truncate -s 24M "$img"
mkntfs -F -q -Q -s 512 -c 4096 -L QMTEST "$img" >/dev/null 2>&1
mount -t ntfs-3g -o loop "$img" "$mnt"

files="$work/files"
: >"$files"
put() {  # put RELPATH BYTES
  mkdir -p "$(dirname "$mnt/$1")"
  printf '%s %s\n' "$2" "$mnt/$1" >>"$files"
}

# Folder tree with non-ASCII and long names.
put "Documents/Überweisung März.txt" 3000
put "Documents/Ελληνικά/αρχείο.txt" 700
put "日本語フォルダ/ファイル名.txt" 5000
put "Documents/$(printf 'long_name_%.0s' {1..20})end.txt" 1200
mkdir -p "$mnt/Empty folder"
# Many small files whose data are resident.
for i in $(seq 1 150); do put "small/file_$i.txt" $(( (i * 37) % 600 + 1 )); done
# Files to delete later (content kept for comparison).
put "trash/deleted_one.txt" 9000
put "trash/deleted_small.txt" 300
put "gone/inner_a.txt" 20000
put "gone/inner_b.txt" 400
put "gone/sub/inner_c.txt" 6000
gen <"$files"
: >"$mnt/small/empty.txt"
# A sparse file: data, a hole, data.
python3 - "$mnt/sparse.bin" <<'EOF'
import sys
with open(sys.argv[1], "wb") as f:
    f.write(b"S" * 8192)
    f.seek(8192 + 512 * 1024)
    f.write(b"T" * 4096)
EOF
sync

# Fragmentation: fill the free space with one-cluster files and a big
# filler, free every other small one, and write the large files into the
# holes.
for i in $(seq 1 1400); do echo "4096 $mnt/filler_$i.tmp"; done | gen
echo "40000000 $mnt/big_filler.bin" | gen
sync
for i in $(seq 1 2 1400); do rm -f "$mnt/filler_$i.tmp"; done
sync
mkdir -p "$mnt/large"
printf '%s\n' "300000 $mnt/large/fragmented_1.bin" "200000 $mnt/large/fragmented_2.bin" \
  "1600000 $mnt/large/very_fragmented.bin" | gen
sync
for i in $(seq 2 2 1400); do rm -f "$mnt/filler_$i.tmp"; done
sync

# Hash every file as written, then delete some.
manifest_tmp="$work/paths"
(cd "$mnt" && find . -type f -print0 | sort -z | while IFS= read -r -d '' f; do
  p=${f#./}
  printf '%s\t%s\t%s\n' "$(stat -c %i "$f")" "$(stat -c %s "$f")" "$p"
  sha256sum "$f" | cut -d' ' -f1
done) >"$manifest_tmp"
rm -f "$mnt/trash/deleted_one.txt" "$mnt/trash/deleted_small.txt"
rm -rf "$mnt/gone"
sync
# Everything still present at the end, files and folders.
(cd "$mnt" && find . -mindepth 1 | sed 's|^\./||' | sort) >"$out/basic.live"
umount "$mnt"

istat "$img" "$(awk -F'\t' '$3 ~ /very_fragmented/ {print $1}' "$manifest_tmp")" >"$work/istat.txt"
if ! grep -q 'Attribute List\|\$ATTRIBUTE_LIST' "$work/istat.txt"; then
  echo "note: very_fragmented.bin has no attribute list" >&2
fi

# The manifest: state by whether the path is still present.
python3 - "$manifest_tmp" "$out/basic.live" >"$out/basic.manifest" <<'EOF'
import sys
lines = open(sys.argv[1], encoding="utf-8").read().split("\n")
live = set(open(sys.argv[2], encoding="utf-8").read().splitlines())
for i in range(0, len(lines) - 1, 2):
    inode, size, path = lines[i].split("\t")
    digest = lines[i + 1]
    state = "live" if path in live else "deleted"
    print(f"{inode}\t{state}\t{size}\t{digest}\t{path}")
EOF
fls -r -p "$img" >"$out/basic.fls"

# Live files must read back through icat as they were written.
while IFS=$'\t' read -r inode state size digest path; do
  [ "$state" = live ] || continue
  got=$(icat "$img" "$inode" | sha256sum | cut -d' ' -f1)
  [ "$got" = "$digest" ] || { echo "icat disagrees on $path" >&2; exit 1; }
done <"$out/basic.manifest"

zstd -q -19 -f "$img" -o "$out/basic.img.zst"
echo "wrote $out/basic.img.zst ($(stat -c %s "$out/basic.img.zst") bytes)"
