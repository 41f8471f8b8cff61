#!/usr/bin/env bash
# Speed of recovering one large file, against cp copying the same bytes.
#
#   bench/recover_speed.sh [BUILD_DIR] [SIZE_MIB]
#
# Makes a FAT32 image holding one SIZE_MIB file (default 1024), reads the
# image and the original file once so both are in the page cache, then times
# (best of three) `cp --reflink=never` of the original file and
# `quillmore-cli recover` of the image (analysis included) into the same
# destination file system. DEST_DIR chooses that file system (default: a
# folder on /dev/shm when it exists, so the disk's write speed does not set
# both figures; give DEST_DIR=/var/tmp to include it).
set -euo pipefail

build=${1:-build}
size_mib=${2:-1024}
cli="$build/quillmore-cli"
[ -x "$cli" ] || { echo "no $cli: build first" >&2; exit 1; }
for tool in mkfs.fat mcopy bc /usr/bin/time; do command -v "$tool" >/dev/null || { echo "missing tool: $tool" >&2; exit 1; }; done

work=$(mktemp -d "${TMPDIR:-/tmp}/qm-recover-speed.XXXXXX")
default_dest=/dev/shm
[ -d "$default_dest" ] && [ -w "$default_dest" ] || default_dest=$work
dest_base=$(mktemp -d "${DEST_DIR:-$default_dest}/qm-recover-dest.XXXXXX")
trap 'rm -rf "$work" "$dest_base"' EXIT INT TERM

src="$work/big.bin"
img="$work/big.img"
echo "Making a ${size_mib} MiB file and a FAT32 image holding it..." >&2
head -c $((size_mib * 1024 * 1024)) /dev/urandom >"$src"
mkfs.fat -F 32 -s 8 -C "$img" $((size_mib * 1024 + 64 * 1024)) >/dev/null
MTOOLS_SKIP_CHECK=1 mcopy -i "$img" "$src" ::big.bin
cat "$img" "$src" >/dev/null   # into the page cache

# run LABEL COMMAND...: elapsed and CPU seconds (user + system) of one run.
measure() {
  /usr/bin/time -o "$work/time.txt" -f '%e %U %S' "$@" >/dev/null 2>&1
  local e u s
  read -r e u s <"$work/time.txt"
  echo "$e $(echo "$u + $s" | bc -l)"
}
min() { if [ -z "$1" ] || [ "$(echo "$2 < $1" | bc -l)" = 1 ]; then echo "$2"; else echo "$1"; fi; }

best_cp="" best_rec="" cpu_cp="" cpu_rec=""
for run in 1 2 3; do
  rm -rf "${dest_base:?}"/*
  read -r e c < <(measure cp --reflink=never "$src" "$dest_base/cp.bin")
  best_cp=$(min "$best_cp" "$e"); cpu_cp=$(min "$cpu_cp" "$c")
  rm -f "$dest_base/cp.bin"
  read -r e c < <(measure "$cli" recover "$img" --to "$dest_base/rec" --name big.bin --allow-same-drive)
  best_rec=$(min "$best_rec" "$e"); cpu_rec=$(min "$cpu_rec" "$c")
  cmp -s "$src" "$dest_base/rec/big.bin" || { echo "recovered file differs from the original" >&2; exit 1; }
done

mib_cp=$(echo "$size_mib / $best_cp" | bc -l)
mib_rec=$(echo "$size_mib / $best_rec" | bc -l)
ratio=$(echo "100 * $mib_rec / $mib_cp" | bc -l)
printf 'destination: %s (best of 3; load average %s)\n' "$dest_base" "$(cut -d' ' -f1 /proc/loadavg)"
printf 'cp:      %6.3f s  %8.1f MiB/s  cpu %5.2f s\n' "$best_cp" "$mib_cp" "$cpu_cp"
printf 'recover: %6.3f s  %8.1f MiB/s  cpu %5.2f s  (%.0f%% of cp'"'"'s speed)\n' "$best_rec" "$mib_rec" "$cpu_rec" "$ratio"
