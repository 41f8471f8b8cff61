#!/usr/bin/env bash
# Builds the bundled sample image: a small FAT32 volume with nested folders,
# long and non-ASCII names, live files of real formats, and deleted files and
# a deleted folder whose data is still on the disk, and lost files in free
# clusters that no directory entry names.
#
#   scripts/make-sample-image.sh [OUTPUT.img]   (default data/samples/sample-fat32.img)
#
# Needs mkfs.fat (dosfstools), mtools, ImageMagick, python3 and zstd. Writes
# OUTPUT and OUTPUT.zst.
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-data/samples/sample-fat32.img}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export LC_ALL=C.UTF-8 MTOOLS_SKIP_CHECK=1 TZ=UTC

# 40 MiB with 512-byte clusters: enough clusters to be FAT32 by count.
rm -f "$out"
mkfs.fat -F 32 -s 1 -S 512 -n QUILLSAMPLE -i 51A3E00D -C "$out" 40960 >/dev/null

src="$work/src"
mkdir -p "$src"
# Real formats, made the same way every time.
convert -size 320x240 gradient:navy-gold -depth 8 "png:$src/holiday.png"
convert -size 640x480 -seed 7 plasma:fractal -quality 85 "$src/sunset.jpg"
convert -size 400x300 -seed 11 plasma:green-blue -quality 80 "$src/deleted-photo.jpg"
convert -size 200x200 -seed 3 plasma:red-yellow -quality 80 "$src/snow.jpg"
python3 - "$src" <<'PY'
import sys, zipfile, os
d = sys.argv[1]
# A small, valid PDF: header, one page, cross-reference table and trailer.
objs = [b"<< /Type /Catalog /Pages 2 0 R >>",
        b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R >>"]
text = b"BT /F1 24 Tf 72 700 Td (Quarterly report) Tj ET\n" * 40
objs.append(b"<< /Length %d >>\nstream\n" % len(text) + text + b"endstream")
pdf = bytearray(b"%PDF-1.4\n%\xe2\xe3\xcf\xd3\n")
offsets = []
for i, o in enumerate(objs, 1):
    offsets.append(len(pdf))
    pdf += b"%d 0 obj\n" % i + o + b"\nendobj\n"
xref = len(pdf)
pdf += b"xref\n0 %d\n0000000000 65535 f \n" % (len(objs) + 1)
for off in offsets:
    pdf += b"%010d 00000 n \n" % off
pdf += b"trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (len(objs) + 1, xref)
open(os.path.join(d, "report.pdf"), "wb").write(pdf)
# A ZIP archive with fixed dates.
with zipfile.ZipFile(os.path.join(d, "backup.zip"), "w", zipfile.ZIP_DEFLATED) as z:
    for name, body in [("notes.txt", "Backup notes\n" * 50), ("data/table.csv", "a,b,c\n1,2,3\n" * 200)]:
        info = zipfile.ZipInfo(name, date_time=(2024, 3, 1, 12, 0, 0))
        info.compress_type = zipfile.ZIP_DEFLATED
        z.writestr(info, body)
with open(os.path.join(d, "readme.txt"), "w") as f:
    f.write("Quillmore sample volume.\r\nThe folders hold live files; some files and one folder were deleted.\r\n")
with open(os.path.join(d, "letter.txt"), "w", encoding="utf-8") as f:
    f.write("Sehr geehrter Herr Müller,\nanbei die Unterlagen.\n" * 30)
with open(os.path.join(d, "notes.txt"), "w") as f:
    f.write("".join("Line %04d of the project notes.\n" % i for i in range(400)))
with open(os.path.join(d, "draft.txt"), "w") as f:
    f.write("An old draft that was deleted.\n" * 100)
with open(os.path.join(d, "old-list.txt"), "w") as f:
    f.write("".join("Item %d\n" % i for i in range(300)))
PY
touch -d '2024-03-01 12:00:00' "$src"/*

img=("-i" "$out")
mmd "${img[@]}" ::/Documents ::/Documents/Letters ::/Pictures ::/Pictures/Зима ::/Projects ::/Projects/2024 \
  ::/Projects/2024/Q1 ::/Archive "::/Old Stuff" "::/Old Stuff/Nested"
mcopy -m "${img[@]}" "$src/readme.txt" ::/README.TXT
mcopy -m "${img[@]}" "$src/report.pdf" "::/Documents/Quarterly Report 2024.pdf"
mcopy -m "${img[@]}" "$src/letter.txt" "::/Documents/Letters/Brief an Müller.txt"
mcopy -m "${img[@]}" "$src/draft.txt" "::/Documents/old draft.txt"
mcopy -m "${img[@]}" "$src/holiday.png" "::/Pictures/Holiday photo with a rather long name.png"
mcopy -m "${img[@]}" "$src/sunset.jpg" ::/Pictures/sunset.jpg
mcopy -m "${img[@]}" "$src/deleted-photo.jpg" ::/Pictures/deleted-photo.jpg
mcopy -m "${img[@]}" "$src/snow.jpg" "::/Pictures/Зима/снег.jpg"
mcopy -m "${img[@]}" "$src/notes.txt" ::/Projects/2024/Q1/notes.txt
mcopy -m "${img[@]}" "$src/backup.zip" ::/Archive/backup.zip
mcopy -m "${img[@]}" "$src/old-list.txt" "::/Old Stuff/old-list.txt"
mcopy -m "${img[@]}" "$src/sunset.jpg" "::/Old Stuff/Nested/sunset copy.jpg"
# Deleted files and a deleted folder: their entries are marked free, their
# data stays on the disk.
mdel "${img[@]}" ::/Pictures/deleted-photo.jpg "::/Documents/old draft.txt"
mdeltree "${img[@]}" "::/Old Stuff"

# Lost files: data left in free clusters by files whose directory entries are
# gone altogether (an earlier format, say). Only the sector scan finds them.
dd if="$src/holiday.png" of="$out" bs=512 seek=$((36 * 2048)) conv=notrunc status=none
dd if="$src/report.pdf" of="$out" bs=512 seek=$((38 * 2048)) conv=notrunc status=none

zstd -q -19 -f "$out" -o "$out.zst"
echo "Made $out ($(stat -c %s "$out") bytes) and $out.zst ($(stat -c %s "$out.zst") bytes)"
