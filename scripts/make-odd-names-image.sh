#!/usr/bin/env bash
# Builds a small NTFS image whose names a terminal must not see raw, with the
# real tools: mkntfs on an image file, files written through an ntfs-3g
# mount (needs root and FUSE).
#
#   scripts/make-odd-names-image.sh OUTDIR
#
# Writes OUTDIR/odd-names.img holding, in the root folder:
#   esc<ESC>[31mred.txt    a name with an escape sequence (colours a terminal)
#   two<LF>lines.txt       a name with a newline (would forge an output line)
#   Brief an Müller.txt    non-ASCII letters, for case folding
#   Зима/снег.jpg          Cyrillic folder and file
#   empty.txt              a file of 0 bytes
#   gone.txt               deleted after it was written
set -euo pipefail

out=${1:?usage: make-odd-names-image.sh OUTDIR}
mkdir -p "$out"
out=$(cd "$out" && pwd)
for tool in mkntfs ntfs-3g; do
  command -v "$tool" >/dev/null || { echo "missing tool: $tool" >&2; exit 1; }
done
[ "$(id -u)" -eq 0 ] || { echo "needs root for the ntfs-3g mount" >&2; exit 1; }

img="$out/odd-names.img"
mnt=$(mktemp -d /tmp/qm-odd-names.XXXXXX)
cleanup() {
  mountpoint -q "$mnt" && umount "$mnt" || true
  rmdir "$mnt" 2>/dev/null || true
}
trap cleanup EXIT

rm -f "$img"
truncate -s 8M "$img"
mkntfs -q -F -Q -L ODDNAMES "$img" >/dev/null 2>&1 || { echo "mkntfs failed" >&2; exit 1; }
ntfs-3g "$img" "$mnt"
printf 'red text\n' >"$mnt/$(printf 'esc\033[31mred.txt')"
printf 'two lines\n' >"$mnt/$(printf 'two\nlines.txt')"
printf 'Sehr geehrter Herr Müller\n' >"$mnt/Brief an Müller.txt"
mkdir "$mnt/Зима"
head -c 3000 /dev/urandom >"$mnt/Зима/снег.jpg"
: >"$mnt/empty.txt"
printf 'deleted\n' >"$mnt/gone.txt"
sync
rm "$mnt/gone.txt"
umount "$mnt"
