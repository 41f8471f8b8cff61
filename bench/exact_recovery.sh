#!/usr/bin/env bash
# How many lost files come back byte-identical, per type, when their size is
# left to their structure: real files written by the real tools
# (scripts/make-end-fixtures.sh) laid at sector boundaries over random bytes,
# then `recover --scan` without --lost-size. Also counts the lost files a
# scan lists on an image of random bytes alone (false alarms).
#
#   bench/exact_recovery.sh [BUILD_DIR] [VARIANTS]    (defaults: build, 8)
#
# KEEP=1 keeps the work folder. Needs python3.
set -euo pipefail
variants=${2:-8}
. "$(dirname "$0")/bench_setup.sh" qm-exact-bench "$@"

echo "Making $variants variants of each file type in $work ..." >&2
"$here/scripts/make-end-fixtures.sh" "$work/files" "$variants"
python3 - "$work/files" "$work/image.dd" <<'PY'
import os, random, sys
src, out = sys.argv[1], sys.argv[2]
rnd = random.Random(17)
names = sorted(os.listdir(src))
rnd.shuffle(names)
with open(out, "wb") as f:
    for n in names:
        f.write(os.urandom(rnd.randrange(1, 40) * 512))
        d = open(os.path.join(src, n), "rb").read()
        f.write(d + os.urandom((-len(d)) % 512))
    f.write(os.urandom(1 << 20))
print(f"{len(names)} files laid in {os.path.getsize(out) >> 20} MiB", file=sys.stderr)
PY
"$cli" recover "$work/image.dd" --to "$work/out" --scan --allow-same-drive > "$work/recover.txt" 2>&1 || true
python3 - "$work/files" "$work/out" <<'PY'
import collections, hashlib, os, sys
src, out = sys.argv[1], sys.argv[2]
def digest(p):
    return hashlib.sha256(open(p, "rb").read()).hexdigest()
got = set()
for root, _, files in os.walk(out):
    for n in files:
        got.add(digest(os.path.join(root, n)))
per = collections.defaultdict(lambda: [0, 0])
for n in sorted(os.listdir(src)):
    kind = n.split(".", 1)[1] if "." in n else n
    per[kind][1] += 1
    per[kind][0] += digest(os.path.join(src, n)) in got
total = [sum(v[0] for v in per.values()), sum(v[1] for v in per.values())]
for kind, (ok, n) in sorted(per.items()):
    print(f"{kind:10} {ok:4} of {n:4} byte-identical")
print(f"{'all':10} {total[0]:4} of {total[1]:4} byte-identical ({100.0 * total[0] / max(1, total[1]):.1f}%)")
PY
grep -E "^Recovered|^Skipped|^Failed|^  [0-9]" "$work/recover.txt" | head -12
# False alarms: lost files listed on random bytes alone.
head -c $((256 << 20)) /dev/urandom > "$work/random.dd"
alarms=$("$cli" scan "$work/random.dd" --json 2>/dev/null | grep -c '"offset"' || true)
echo "lost files listed on 256 MiB of random bytes: $alarms"
