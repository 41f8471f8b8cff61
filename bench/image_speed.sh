#!/usr/bin/env bash
# Speed of `quillmore-cli image` against `dd bs=2M` copying the same
# page-cached image file into a new file on the same file system. Prints the
# median time of each and the ratio of their speeds (image / dd).
#
#   bench/image_speed.sh [BUILD_DIR] [SIZE_MIB]      (defaults: build, 1024)
#
# RUNS=N sets the runs of each (default 5). The work folder is made under
# $TMPDIR, by default /dev/shm (memory) so that both copies measure the
# copying, not the disk behind the page cache; it needs room for three images.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build}
size_mib=${2:-1024}
runs=${RUNS:-5}
cli="$build/quillmore-cli"
[ -x "$cli" ] || { echo "quillmore-cli not found in $build (build it first)" >&2; exit 2; }

work=$(mktemp -d "${TMPDIR:-/dev/shm}/qm-image-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
export QUILLMORE_CONFIG_DIR="$work/config"
mkdir -p "$QUILLMORE_CONFIG_DIR"

head -c $((size_mib << 20)) /dev/urandom > "$work/source.img"
cat "$work/source.img" > /dev/null  # into the page cache

seconds() {  # runs the command, prints its wall time in seconds
  local start end
  start=$(date +%s.%N)
  "$@" > /dev/null 2>&1
  end=$(date +%s.%N)
  echo "$end - $start" | bc -l
}
median() { sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

dd_times=() qm_times=()
for ((i = 0; i < runs; i++)); do
  rm -f "$work/dd.img" "$work/qm.dsk"
  dd_times+=("$(seconds dd if="$work/source.img" of="$work/dd.img" bs=2M)")
  rm -f "$work/dd.img"
  qm_times+=("$(seconds "$cli" image "$work/source.img" --to "$work/qm.dsk")")
done
cmp "$work/source.img" "$work/qm.dsk" || { echo "the image differs from its source" >&2; exit 1; }
dd_median=$(printf '%s\n' "${dd_times[@]}" | median)
qm_median=$(printf '%s\n' "${qm_times[@]}" | median)
printf 'dd bs=2M:           %.3f s (%.0f MB/s)\n' "$dd_median" "$(echo "$size_mib * 1.048576 / $dd_median" | bc -l)"
printf 'quillmore-cli image: %.3f s (%.0f MB/s)\n' "$qm_median" "$(echo "$size_mib * 1.048576 / $qm_median" | bc -l)"
printf 'speed ratio image / dd: %.2f (target >= 0.90)\n' "$(echo "$dd_median / $qm_median" | bc -l)"
