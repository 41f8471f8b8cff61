#!/usr/bin/env bash
# Makes real files of several shipped file types (written by the real tools),
# for the sector-scan tests and the scan benchmark:
#   make-scan-fixtures.sh OUTDIR
# Writes OUTDIR/files/<name> and OUTDIR/fat.img (a FAT16 volume holding some
# of those files). Tools that are missing only leave their files out.
set -euo pipefail
out=${1:?usage: make-scan-fixtures.sh OUTDIR}
files="$out/files"
mkdir -p "$files"
cd "$files"

have() { command -v "$1" >/dev/null 2>&1; }

if have convert; then
  convert -size 96x64 plasma:fractal -seed 7 photo.jpg 2>/dev/null || convert -size 96x64 gradient:red-blue photo.jpg
  convert -size 80x80 gradient:yellow-green picture.png
  convert -size 40x40 xc:orange anim.gif
  convert -size 50x30 gradient:white-black scan.tif
  convert -size 33x21 xc:purple bitmap.bmp
  convert -size 60x60 xc:white -fill black -draw "circle 30,30 30,10" page.pdf 2>/dev/null || true
fi
if have gsf; then
  tmp=$(mktemp -d)
  head -c 6000 /dev/urandom > "$tmp/Workbook"
  head -c 6000 /dev/urandom > "$tmp/WordDocument"
  head -c 6000 /dev/urandom > "$tmp/PowerPoint Document"
  (cd "$tmp" 2>/dev/null && gsf createole "$files/sheet.xls" Workbook >/dev/null \
     && gsf createole "$files/letter.doc" WordDocument >/dev/null \
     && gsf createole "$files/slides.ppt" "PowerPoint Document" >/dev/null) 2>/dev/null
  rm -rf "$tmp"
fi
python3 - <<'PY'
import bz2, gzip, lzma, sqlite3, tarfile, wave, zipfile, io, os, random
rnd = random.Random(11)
text = ("Quillmore scan fixture line %d\n" * 1).encode()
body = b"".join(b"line %d of a text kept in archives\n" % i for i in range(400))
with zipfile.ZipFile("bundle.zip", "w", zipfile.ZIP_DEFLATED) as z:
    z.writestr("notes.txt", body)
with gzip.open("notes.txt.gz", "wb") as g:
    g.write(body)
open("notes.txt.bz2", "wb").write(bz2.compress(body))
open("notes.txt.xz", "wb").write(lzma.compress(body))
with tarfile.open("notes.tar", "w") as t:
    info = tarfile.TarInfo("notes.txt"); info.size = len(body)
    t.addfile(info, io.BytesIO(body))
if os.path.exists("store.sqlite"):
    os.remove("store.sqlite")
db = sqlite3.connect("store.sqlite")
db.execute("create table t(a, b)")
db.executemany("insert into t values(?, ?)", [(i, "row %d" % i) for i in range(200)])
db.commit(); db.close()
with wave.open("tone.wav", "wb") as w:
    w.setnchannels(1); w.setsampwidth(2); w.setframerate(8000)
    w.writeframes(bytes(rnd.getrandbits(8) for _ in range(8000)))
PY
cp /bin/true program.elf

# A FAT16 volume holding some of them, for the merge of lost files into the
# file system's own files.
if have mkfs.fat && have mcopy; then
  rm -f "$out/fat.img"
  truncate -s 20M "$out/fat.img"
  mkfs.fat -F 16 -n SCANFAT "$out/fat.img" >/dev/null
  for f in photo.jpg picture.png bundle.zip; do
    [ -f "$f" ] && mcopy -i "$out/fat.img" "$f" "::$f"
  done
fi
# A writer that failed leaves an empty file behind.
find "$files" -size 0 -delete
