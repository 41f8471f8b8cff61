#!/usr/bin/env bash
# Listing speed on an exFAT volume of many files: builds the image once with
# mkfs.exfat and the FUSE driver over a loop device (needs root), then times
# `fls -r -p` of Sleuth Kit against `quillmore-cli list` on it.
#
#   bench/exfat_listing.sh [FILES] [IMAGE]     (defaults: 100000, /tmp/qm-exfat-100k.img)
set -euo pipefail
files=${1:-100000}
img=${2:-/tmp/qm-exfat-100k.img}
cli=${QUILLMORE_CLI:-$(dirname "$0")/../build/quillmore-cli}

if [ ! -s "$img" ]; then
  [ "$(id -u)" -eq 0 ] || { echo "needs root to build the image" >&2; exit 1; }
  mnt=$(mktemp -d /tmp/qm-exfat-mnt.XXXXXX)
  truncate -s 1G "$img"
  mkfs.exfat -c 4K -L BENCH "$img" >/dev/null
  loop=$(losetup -f --show "$img")
  trap 'mountpoint -q "$mnt" && umount "$mnt"; losetup -d "$loop"; rmdir "$mnt"' EXIT
  mount.exfat-fuse "$loop" "$mnt" >/dev/null
  # 100 folders of FILES/100 small files each, under two levels.
  python3 - "$mnt" "$files" <<'EOF'
import os, sys
root, total = sys.argv[1], int(sys.argv[2])
per = max(1, total // 100)
for d in range(100):
    folder = os.path.join(root, "group_%02d" % (d // 10), "folder_%03d" % d)
    os.makedirs(folder, exist_ok=True)
    for i in range(per):
        with open(os.path.join(folder, "photo_%06d_with_a_longer_name.jpg" % i), "wb") as f:
            f.write(b"x" * (i % 3000))
EOF
  umount "$mnt"
fi

run() {  # run LABEL COMMAND...: best of three wall-clock times
  local best=
  for _ in 1 2 3; do
    local start end
    start=$(date +%s.%N)
    "${@:2}" >/dev/null
    end=$(date +%s.%N)
    local t
    t=$(echo "$end - $start" | bc)
    if [ -z "$best" ] || [ "$(echo "$t < $best" | bc)" = 1 ]; then best=$t; fi
  done
  printf '%-28s %8.3f s\n' "$1" "$best"
}
echo "entries: fls $(fls -r -p "$img" | wc -l), quillmore $("$cli" list "$img" | wc -l)"
run "fls -r -p" fls -r -p "$img"
run "quillmore-cli list" "$cli" list "$img"
