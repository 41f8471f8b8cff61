#!/usr/bin/env bash
# Speed of the NTFS walk against Sleuth Kit: makes an NTFS image holding
# 100,000 files (mkntfs, files written through an ntfs-3g mount; needs root),
# then times `fls -r` and the file-system phase of `quillmore-cli list` on it
# and prints both times and their ratio.
#
#   bench/ntfs_list.sh [BUILD_DIR] [FILES]
set -euo pipefail
build=${1:-build}
files=${2:-100000}
here=$(cd "$(dirname "$0")/.." && pwd)
cli="$here/$build/quillmore-cli"
walk="$here/$build/bench/bench_ntfs_walk"

cache=${QM_BENCH_DIR:-/tmp/qm-bench}
img="$cache/ntfs-$files.img"
mkdir -p "$cache"
if [ ! -s "$img" ]; then
  mnt=$(mktemp -d /tmp/qm-bench-mnt.XXXXXX)
  truncate -s 1G "$img.part"
  mkntfs -F -q -Q -c 4096 "$img.part" >/dev/null 2>&1
  mount -t ntfs-3g -o loop "$img.part" "$mnt"
  echo "writing $files files..." >&2
  python3 - "$mnt" "$files" <<'PY'
import os, sys
root, n = sys.argv[1], int(sys.argv[2])
for i in range(n):
    d = os.path.join(root, "dir%03d" % (i // 1000))
    if i % 1000 == 0:
        os.mkdir(d)
    with open(os.path.join(d, "file_%06d.txt" % i), "w") as f:
        f.write("content of file %d\n" % i * (1 + i % 40))
PY
  umount "$mnt"
  rmdir "$mnt"
  mv "$img.part" "$img"
fi

[ -x "$cli" ] || { echo "build quillmore-cli first ($cli)" >&2; exit 1; }
[ -x "$walk" ] || { echo "build bench_ntfs_walk first ($walk)" >&2; exit 1; }

# Warm the page cache so both read from memory.
cat "$img" >/dev/null

t0=$(date +%s.%N)
entries=$(fls -r "$img" | wc -l)
t1=$(date +%s.%N)
fls_time=$(awk "BEGIN{print $t1 - $t0}")

read -r phase objects < <("$walk" "$img")

t0=$(date +%s.%N)
"$cli" list "$img" >/dev/null 2>&1 || true
t1=$(date +%s.%N)
list_time=$(awk "BEGIN{print $t1 - $t0}")

printf 'fls -r:                      %6.3f s  (%d entries)\n' "$fls_time" "$entries"
printf 'file-system phase (MFT walk): %6.3f s  (%d objects)\n' "$phase" "$objects"
printf 'quillmore-cli list, whole:   %6.3f s\n' "$list_time"
printf 'ratio phase / fls:           %6.3f\n' "$(awk "BEGIN{print $phase / $fls_time}")"
printf 'ratio whole list / fls:      %6.3f\n' "$(awk "BEGIN{print $list_time / $fls_time}")"
