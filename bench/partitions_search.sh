#!/usr/bin/env bash
# Speed of the lost-partition search (`partitions --search`) on a page-cached
# whole-disk image: an MBR disk of SIZE_MIB whose space is random bytes with
# the FAT16, NTFS, FAT32 and FAT12 partitions of scripts/make-disk-images.sh
# written at its start (one of them hidden from the table, so the search has
# something to find). Compares with reading the image (cat).
#
#   bench/partitions_search.sh [BUILD_DIR] [SIZE_MIB]      (defaults: build, 1024)
#
# RUNS=N sets the runs of cat and of the search (default 5); KEEP=1 keeps the
# work folder with the image.
set -euo pipefail
. "$(dirname "$0")/bench_setup.sh" qm-partitions-bench "$@"

echo "Making a ${size_mib} MiB whole-disk image in $work ..." >&2
sh "$here/scripts/make-disk-images.sh" "$work/disks" >/dev/null
head -c $((size_mib << 20)) /dev/urandom > "$work/disk.img"
# The partitions of the small disk over the start of the random one, the
# first table entry cleared so that only the search finds partition 1.
dd if="$work/disks/mbr.img" of="$work/disk.img" conv=notrunc status=none
dd if=/dev/zero of="$work/disk.img" bs=1 seek=446 count=16 conv=notrunc status=none

cat "$work/disk.img" > /dev/null  # into the page cache
runs=${RUNS:-5}

# A first run loads the signature database into the fresh store.
"$cli" partitions "$work/disk.img" --search > /dev/null 2>&1 || true
for _ in $(seq "$runs"); do
  run cat /dev/null cat "$work/disk.img"
  run search "$work/found.json" "$cli" partitions "$work/disk.img" --search --json
done
read -r cat_s _ < <(median cat)
read -r search_s _ < <(median search)
found=$(grep -c '"start_sector"' "$work/found.json" || true)
by_search=$(grep -c '"found by search"' "$work/found.json" || true)

printf 'image: %d MiB; volumes listed: %s (%s found by search); median of %d runs\n' "$size_mib" "$found" \
  "$by_search" "$runs"
row() { printf '%-9s %7.3f s wall %8.1f MiB/s\n' "$1" "$2" "$(echo "$size_mib / $2" | bc -l)"; }
row cat: "$cat_s"
row search: "$search_s"
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
printf 'search speed / cat speed: %.3f  (target >= 0.5)\n' "$(echo "$cat_s / $search_s" | bc -l)"
