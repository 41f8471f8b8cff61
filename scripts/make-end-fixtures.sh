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
    # The document's title, set the way PostScript producers set it.
    printf '%%!PS\n[ /Title (Annual Report %d) /DOCINFO pdfmark\n/Helvetica findfont 12 scalefont setfont 72 720 moveto (Page %d) show showpage\n' "$i" "$i" > ps$i.ps
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
    # The summary information stream an office program writes, with the
    # document's title (code page 1252, then a wide string).
    python3 - "$tmp/"$'\005'"SummaryInformation" "Letter to the bank $i" 1252 <<'PY'
import struct, sys
path, title, codepage = sys.argv[1], sys.argv[2], int(sys.argv[3])
text = title.encode("cp1252") + b"\0"
props = [(1, struct.pack("<HHh2x", 2, 0, codepage)), (2, struct.pack("<HHI", 0x1E, 0, len(text)) + text + b"\0" * (-len(text) % 4))]
body, offsets = b"", []
for pid, value in props:
    offsets.append((pid, 8 + 8 * len(props) + len(body)))
    body += value
section = struct.pack("<II", 8 + 8 * len(props) + len(body), len(props)) + b"".join(struct.pack("<II", p, o) for p, o in offsets) + body
fmtid = bytes.fromhex("E0859FF2F94F6810AB9108002B27B3D9")
head = struct.pack("<HHI", 0xFFFE, 0, 0x00020006) + b"\0" * 16 + struct.pack("<I", 1) + fmtid + struct.pack("<I", 48)
open(path, "wb").write(head + section)
PY
    (cd "$tmp" && q gsf createole "$out/letter$i.doc" WordDocument $'\005'SummaryInformation && q gsf createole "$out/sheet$i.xls" Workbook)
    rm -rf "$tmp"
  fi
  python3 - "$i" <<'PY'
import sys, zipfile
i = int(sys.argv[1])
# An office document as the office programs lay it out: the content types first.
with zipfile.ZipFile("report%d.docx" % i, "w", zipfile.ZIP_DEFLATED) as z:
    z.writestr("[Content_Types].xml", '<?xml version="1.0"?><Types/>' * i)
    z.writestr("word/document.xml", "<w:document>%s</w:document>" % ("text " * 200 * i))
    z.writestr("docProps/core.xml", '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n'
               '<cp:coreProperties xmlns:cp="http://schemas.openxmlformats.org/package/2006/metadata/core-properties" '
               'xmlns:dc="http://purl.org/dc/elements/1.1/"><dc:title>Budget &amp; Plan %d</dc:title>'
               '<dc:creator>Quillmore</dc:creator></cp:coreProperties>' % i)
with zipfile.ZipFile("book%d.epub" % i, "w") as z:
    z.writestr("mimetype", "application/epub+zip")
    z.writestr("OEBPS/content.opf", '<package><metadata xmlns:dc="http://purl.org/dc/elements/1.1/">'
               '<dc:title>Le Tour du monde %d</dc:title></metadata>%s</package>' % (i, "x" * 300 * i), zipfile.ZIP_DEFLATED)
# An OpenDocument text as the office suites lay it out: the media type
# first and stored, then the parts.
with zipfile.ZipFile("essay%d.odt" % i, "w", zipfile.ZIP_DEFLATED) as z:
    z.writestr(zipfile.ZipInfo("mimetype"), "application/vnd.oasis.opendocument.text", zipfile.ZIP_STORED)
    z.writestr("content.xml", '<?xml version="1.0" encoding="UTF-8"?><office:document-content>%s</office:document-content>' % ("word " * 100 * i))
    z.writestr("meta.xml", '<?xml version="1.0" encoding="UTF-8"?><office:document-meta><office:meta>'
               '<dc:title>Gr\u00fc\u00dfe aus K\u00f6ln %d</dc:title></office:meta></office:document-meta>' % i)
    z.writestr("META-INF/manifest.xml", '<?xml version="1.0" encoding="UTF-8"?><manifest:manifest/>')
PY
  rm -f blob$i text$i.txt
done
find . -size 0 -delete
exit 0
