#!/usr/bin/env bash
# Makes real files of every type whose end the scanner finds by structure,
# each written by the real tool for it, for the end-finder tests and the
# exact-recovery bench:
#   make-end-fixtures.sh OUTDIR [COUNT]
# Writes OUTDIR/<name>.<ext>; COUNT (default 1) variants of each, differing
# in size and content. Prints nothing; tools that are missing leave their
# files out.
set -uo pipefail
out=${1:?usage: make-end-fixtures.sh OUTDIR [COUNT]}
count=${2:-1}
mkdir -p "$out"
cd "$out"
have() { command -v "$1" >/dev/null 2>&1; }
q() { "$@" >/dev/null 2>&1; }
ff() { q ffmpeg -hide_banner -loglevel error -y "$@"; }

for i in $(seq 1 "$count"); do
  w=$((40 + i * 37 % 300)); h=$((30 + i * 53 % 200)); d="$((i % 3)).$((3 + i % 7))"
  if have convert; then
    q convert -size ${w}x${h} plasma:fractal -seed $i photo$i.jpg
    # A camera's capture time, in the Exif block a camera writes.
    have exiftool && q exiftool -overwrite_original "-DateTimeOriginal=2024:06:0$((i % 9 + 1)) 14:03:2$((i % 10))" photo$i.jpg
    q convert -size ${w}x${h} plasma:fractal -seed $i -interlace JPEG progressive$i.jpg
    q convert -size ${w}x${h} plasma:fractal -seed $i picture$i.png
    q convert -size ${w}x${h} plasma:fractal -seed $i anim$i.gif
    q convert -size ${w}x${h} plasma:fractal -seed $i bitmap$i.bmp
    q convert -size ${w}x${h} plasma:fractal -seed $i -compress lzw scan$i.tif
    q convert -size ${w}x${h} plasma:fractal -seed $i page$i.pdf
    q convert -size ${w}x${h} plasma:fractal -seed $i image$i.webp
  fi
  if have gs; then
    printf '%%!PS\n/Helvetica findfont 12 scalefont setfont 72 720 moveto (Page %d) show showpage\n' "$i" > ps$i.ps
    q gs -q -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -sOutputFile=doc$i.pdf ps$i.ps
    rm -f ps$i.ps
  fi
  if have ffmpeg; then
    tone=(-f lavfi -i "sine=frequency=$((200 + i * 50)):duration=$d:sample_rate=44100")
    clip=(-f lavfi -i "testsrc=size=96x64:rate=10:duration=$d")
    ff "${tone[@]}" sound$i.wav
    ff "${tone[@]}" -c:a libmp3lame song$i.mp3
    ff "${tone[@]}" -c:a flac lossless$i.flac
    ff "${tone[@]}" -c:a libopus voice$i.opus
    ff "${tone[@]}" -c:a flac -f ogg stream$i.ogg
    ff "${tone[@]}" -c:a aac music$i.m4a
    ff "${clip[@]}" -c:v libx264 -pix_fmt yuv420p movie$i.mp4
    ff "${clip[@]}" -c:v libx264 -pix_fmt yuv420p film$i.mov
    ff "${clip[@]}" -c:v mpeg4 phone$i.3gp
    ff "${clip[@]}" -c:v mpeg4 video$i.avi
    ff "${clip[@]}" -c:v libx264 -pix_fmt yuv420p clip$i.mkv
    ff "${clip[@]}" -c:v libvpx clip$i.webm
    ff "${clip[@]}" -c:v libtheora reel$i.ogv
  fi
  head -c $((3000 + i * 1777)) /dev/urandom > blob$i
  seq 1 $((200 + i * 300)) > text$i.txt
  if have zip; then q zip -q archive$i.zip text$i.txt blob$i; fi
  if have gzip; then gzip -c text$i.txt > text$i.txt.gz; fi
  if have 7zz; then q 7zz a -bd archive$i.7z text$i.txt blob$i; fi
  if have sqlite3; then
    rm -f store$i.sqlite
    sqlite3 store$i.sqlite "create table t(a, b); $(for r in $(seq 1 $((20 * i))); do printf "insert into t values(%d, 'row %d');" $r $r; done)"
  fi
  if have gcc; then
    printf 'int main(void) { return %d; }\n' "$i" > prog$i.c
    q gcc -O$((i % 3)) -o program$i.elf prog$i.c
    rm -f prog$i.c
  fi
  if have gsf; then
    tmp=$(mktemp -d)
    head -c $((2000 + i * 5000)) /dev/urandom > "$tmp/WordDocument"
    head -c $((1000 + i * 300)) /dev/urandom > "$tmp/Workbook"
    (cd "$tmp" && q gsf createole "$out/letter$i.doc" WordDocument && q gsf createole "$out/sheet$i.xls" Workbook)
    rm -rf "$tmp"
  fi
  python3 - "$i" <<'PY'
import sys, zipfile
i = int(sys.argv[1])
# An office document as the office programs lay it out: the content types first.
with zipfile.ZipFile("report%d.docx" % i, "w", zipfile.ZIP_DEFLATED) as z:
    z.writestr("[Content_Types].xml", '<?xml version="1.0"?><Types/>' * i)
    z.writestr("word/document.xml", "<w:document>%s</w:document>" % ("text " * 200 * i))
with zipfile.ZipFile("book%d.epub" % i, "w") as z:
    z.writestr("mimetype", "application/epub+zip")
    z.writestr("OEBPS/content.opf", "<package>%s</package>" % ("x" * 300 * i), zipfile.ZIP_DEFLATED)
PY
  rm -f blob$i text$i.txt
done
find . -size 0 -delete
exit 0
