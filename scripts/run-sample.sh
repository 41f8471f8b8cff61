#!/usr/bin/env bash
# The main job on the bundled sample image, as far as the command line goes:
# the boot sector, the file list, and the recovery of every live, deleted
# and lost file into ./recovered, ending with the recovery's summary.
set -euo pipefail
build=${1:-build}
sample=${2:-data/samples/sample-fat32.img}
cli="$build/quillmore-cli"
if [ ! -f "$sample" ] && [ -f "$sample.zst" ]; then
  zstd -q -d -f "$sample.zst" -o "$sample"
fi
has() { "$cli" --help | grep -q "^  $1 "; }

echo "== Boot sector of $sample"
"$cli" dump "$sample" --sector 0
if has list; then
  echo
  echo "== Files and folders on $sample"
  "$cli" list "$sample"
fi
if has recover; then
  echo
  echo "== Recovering the live, deleted and lost files of $sample into ./recovered"
  # ./recovered may hold files of the user's own: they are never touched.
  # What the last run of this script wrote is listed in a manifest with each
  # file's checksum; those files, if unchanged since, are removed before the
  # new run (and the folders it made, when they are left empty), so running
  # again does not pile up "name (2)" copies.
  manifest=recovered/.written-by-make-run
  rm -f recovered/.made-by-make-run  # the marker of older versions of this script
  if [ -f "$manifest" ]; then
    dirs=()
    while IFS= read -r -d '' kind && IFS= read -r -d '' path; do
      if [ "$kind" = dir ]; then
        dirs+=("$path")
      elif [ -f "$path" ] && [ ! -L "$path" ] && [ "$(sha256sum <"$path" | cut -d' ' -f1)" = "$kind" ]; then
        rm -f -- "$path"
      fi
    done <"$manifest"
    # Folders deepest first; rmdir leaves any that still hold something.
    if [ ${#dirs[@]} -gt 0 ]; then
      printf '%s\0' "${dirs[@]}" | LC_ALL=C sort -rz | xargs -0 rmdir -- 2>/dev/null || true
    fi
    rm -f -- "$manifest"
  fi
  listing() { if [ -d recovered ]; then find recovered -print0 | LC_ALL=C sort -z; fi; }
  before=$(mktemp)
  written=$(mktemp)
  trap 'rm -f "$before" "$written"' EXIT
  listing >"$before"
  # The sample is an image file, so writing beside it cannot overwrite the
  # data being recovered. Lost files found by the sector scan get the size up
  # to the next file found on the volume.
  status=0
  "$cli" recover "$sample" --to recovered --scan --lost-size next --allow-same-drive || status=$?
  # The manifest: every file and folder this run added, files with their
  # checksum.
  if [ -d recovered ]; then
    LC_ALL=C comm -z -13 "$before" <(listing) | while IFS= read -r -d '' path; do
      if [ -d "$path" ]; then
        printf 'dir\0%s\0' "$path"
      elif [ -f "$path" ]; then
        printf '%s\0%s\0' "$(sha256sum <"$path" | cut -d' ' -f1)" "$path"
      fi
    done >"$written"
    cp -- "$written" "$manifest"
  fi
  exit "$status"
fi
