#!/usr/bin/env bash
# Speed of the sector scan for lost files, with every shipped file type
# switched on, on a page-cached image of real files laid at sector boundaries
# over random bytes. Compares with reading the image (cat) and with PhotoRec
# (Debian testdisk) on the same image, and prints the two ratios.
#
#   bench/scan_speed.sh [BUILD_DIR] [SIZE_MIB]      (defaults: build, 1024)
#
# RUNS=N sets the runs of cat and of the scan (default 5); KEEP=1 keeps the
# work folder with the image. Needs python3; PhotoRec is skipped when it is
# not installed.
set -euo pipefail
. "$(dirname "$0")/bench_setup.sh" qm-scan-bench "$@"

echo "Making the fixtures and a ${size_mib} MiB image in $work ..." >&2
"$here/scripts/make-scan-fixtures.sh" "$work/fx" >/dev/null 2>&1
python3 - "$work/fx/files" "$work/image.dd" "$size_mib" "$work/placed.tsv" <<'PY'
import os, random, sys
src, out, size_mib, manifest = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4]
rnd = random.Random(42)
# Real files: the fixtures, plus files of the system of common kinds.
pool = [os.path.join(src, f) for f in sorted(os.listdir(src))]
for root in ("/usr/share/icons", "/usr/share/doc", "/usr/share/pixmaps", "/usr/bin"):
    for dirpath, _, names in os.walk(root):
        for n in names:
            p = os.path.join(dirpath, n)
            if os.path.isfile(p) and not os.path.islink(p) and 0 < os.path.getsize(p) <= 4 << 20:
                pool.append(p)
        if len(pool) > 4000:
            break
datas = []
for p in pool:
    try:
        with open(p, "rb") as f:
            datas.append((p, f.read()))
    except OSError:
        pass
total = size_mib << 20
placed = 0
with open(out, "wb") as f, open(manifest, "w") as m:
    pos = 0
    while pos < total:
        # About half real files, half random background.
        gap = rnd.randrange(0, 64) * 512
        gap = min(gap, total - pos)
        f.write(os.urandom(gap))
        pos += gap
        if pos >= total:
            break
        name, d = datas[rnd.randrange(len(datas))]
        d = d[: total - pos]
        m.write(f"{pos}\t{name}\n")
        pad = (-len(d)) % 512
        chunk = d + os.urandom(min(pad, total - pos - len(d)))
        f.write(chunk)
        pos += len(chunk)
        placed += 1
print(f"{placed} real files placed", file=sys.stderr)
PY

cat "$work/image.dd" > /dev/null  # into the page cache
# Runs of a fraction of a second vary by some tens of milliseconds on a
# shared machine, so cat and the scan take turns RUNS times (default 5) and
# the median of each is compared.
runs=${RUNS:-5}

# A first scan loads the signature database into the fresh store.
"$cli" scan "$work/image.dd" > /dev/null 2>&1 || true
for _ in $(seq "$runs"); do
  run cat /dev/null cat "$work/image.dd"
  run scan "$work/scan.json" "$cli" scan "$work/image.dd" --json
done
read -r cat_s cat_u cat_k < <(median cat)
read -r scan_s scan_u scan_k < <(median scan)
found=$(grep -c '"offset"' "$work/scan.json" || true)
# How many of the placed files the scan lists at their exact offsets (files
# of no known type, such as plain text, cannot be found by signature).
at_offset=$(python3 - "$work/scan.json" "$work/placed.tsv" <<'PY'
import json, sys
offsets = {o["offset"] for o in json.load(open(sys.argv[1]))}
placed = [int(line.split("\t")[0]) for line in open(sys.argv[2])]
print(f"{sum(p in offsets for p in placed)} of {len(placed)}")
PY
)

pr_s=""
if command -v photorec >/dev/null 2>&1; then
  mkdir -p "$work/pr"
  run photorec /dev/null photorec /log /d "$work/pr/out" /cmd "$work/image.dd" \
    partition_none,options,fileopt,everything,enable,search
  read -r pr_s pr_u pr_k < <(median photorec)
  pr_found=$(find "$work/pr" -type f ! -name "*.xml" | wc -l)
fi

mib=$size_mib
printf 'image: %d MiB, lost files listed by the scan: %s; cat and scan: median of %d runs\n' "$mib" "$found" "$runs"
row() { printf '%-9s %7.3f s wall %8.1f MiB/s   cpu %6.2f s user %6.2f s sys\n' "$1" "$2" "$(echo "$mib / $2" | bc -l)" "$3" "$4"; }
echo "placed files listed at their exact offsets: $at_offset"
row cat: "$cat_s" "$cat_u" "$cat_k"
row scan: "$scan_s" "$scan_u" "$scan_k"
[ -n "$pr_s" ] && row photorec: "$pr_s" "$pr_u" "$pr_k" && echo "photorec recovered $pr_found file(s)"
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
printf 'scan speed / cat speed:      %.3f  (target >= 0.8)\n' "$(echo "$cat_s / $scan_s" | bc -l)"
[ -n "$pr_s" ] && printf 'scan speed / photorec speed: %.3f  (target > 1)\n' "$(echo "$pr_s / $scan_s" | bc -l)"
exit 0
