#!/usr/bin/env bash
# Builds the compressed-NTFS test image with the real tools: mkntfs on an
# image file, files written through ntfs-3g mounted with `-o compression`
# (FUSE, needs root) into a folder whose compressed attribute is set.
#
#   scripts/make-ntfs-compressed-image.sh OUTDIR
#
# Writes into OUTDIR:
#   compressed.img.zst   the image, compressed
#   compressed.manifest  one line per file: inode, state (live/deleted), size,
#                        sha256 of the content written, name
#   compressed.icat      sha256 of what `icat` reads for each inode
#
# The folder holds text that compresses well, random bytes that do not (its
# units are stored as they are), a file with long runs of zeros (sparse
# units), two files written in turns so their units interleave on the
# volume, a small file, and deleted files whose clusters are not reused.
set -euo pipefail

out=${1:?usage: make-ntfs-compressed-image.sh OUTDIR}
mkdir -p "$out"
out=$(cd "$out" && pwd)
for tool in mkntfs ntfs-3g icat ifind zstd sha256sum python3; do
  command -v "$tool" >/dev/null || { echo "missing tool: $tool" >&2; exit 1; }
done
[ "$(id -u)" -eq 0 ] || { echo "needs root for the FUSE mount" >&2; exit 1; }

work=$(mktemp -d /tmp/qm-ntfsc.XXXXXX)
mnt="$work/mnt"
img="$work/compressed.img"
mkdir -p "$mnt"
cleanup() {
  mountpoint -q "$mnt" && umount "$mnt" || true
  rm -rf "$work"
}
trap cleanup EXIT

truncate -s 16M "$img"
mkntfs -F -q -Q -s 512 -c 4096 -L QMCOMPRESS "$img" >/dev/null 2>&1
ntfs-3g -o compression "$img" "$mnt"

python3 - "$mnt" "$work/written" <<'PY'
import hashlib, os, random, sys
mnt, listing = sys.argv[1], sys.argv[2]
folder = os.path.join(mnt, "packed")
os.mkdir(folder)
os.setxattr(folder, "system.ntfs_attrib_be", (0x800).to_bytes(4, "big"))
rng = random.Random(18)
words = [b"alpha", b"bravo", b"charlie", b"delta", b"echo", b"foxtrot", b"golf", b"hotel"]
def text(n):
    out = bytearray()
    while len(out) < n:
        out += rng.choice(words) + b" " + str(rng.randrange(1000)).encode() + b"\n"
    return bytes(out[:n])
def noise(n):
    return bytes(rng.getrandbits(8) for _ in range(n))
files = {
    "text.txt": text(300_000),
    "noise.bin": noise(150_000),
    "holes.bin": text(70_000) + bytes(200_000) + noise(30_000) + bytes(5),
    "small.txt": text(600),
    "tail.txt": text(65_536 + 100),
    "gone_text.txt": text(180_000),
    "gone_noise.bin": noise(70_000),
}
for name, data in files.items():
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)
# Two files written in turns: their units interleave on the volume.
a, b = text(400_000), noise(200_000) + text(200_000)
with open(os.path.join(folder, "turns_a.txt"), "wb") as fa, open(os.path.join(folder, "turns_b.bin"), "wb") as fb:
    for i in range(0, 400_000, 65_536):
        fa.write(a[i:i + 65_536]); fa.flush(); os.fsync(fa.fileno())
        fb.write(b[i:i + 65_536]); fb.flush(); os.fsync(fb.fileno())
files["turns_a.txt"], files["turns_b.bin"] = a, b
with open(listing, "w") as f:
    for name, data in files.items():
        f.write(f"{name} {len(data)} {hashlib.sha256(data).hexdigest()}\n")
PY
sync
# The inode numbers, while the names still resolve.
: >"$work/inodes"
while read -r name size sum; do
  inode=$(stat -c %i "$mnt/packed/$name")
  echo "$name $inode" >>"$work/inodes"
done <"$work/written"
rm "$mnt/packed/gone_text.txt" "$mnt/packed/gone_noise.bin"
sync
umount "$mnt"

: >"$out/compressed.manifest"
: >"$out/compressed.icat"
while read -r name size sum; do
  inode=$(awk -v n="$name" '$1 == n { print $2 }' "$work/inodes")
  state=live
  case $name in gone_*) state=deleted ;; esac
  echo "$inode $state $size $sum $name" >>"$out/compressed.manifest"
  echo "$inode $(icat "$img" "$inode" | sha256sum | cut -d' ' -f1)" >>"$out/compressed.icat"
done <"$work/written"
zstd -q -19 -f "$img" -o "$out/compressed.img.zst"
