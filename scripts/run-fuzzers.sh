#!/usr/bin/env bash
# Runs every fuzz target of a fuzz build for a set time each, from seed
# corpora made here with the real tools (mkfs.fat, mtools, mkntfs, sfdisk,
# mkfs.exfat with the FUSE driver) and from
# the shipped signature database, and prints each target's final figures.
#
#   [FUZZ_NICE=N] scripts/run-fuzzers.sh BUILD_DIR SECONDS [TARGET...]
#
# The fuzzers run under nice (FUZZ_NICE, default 19).
#
# Corpora grow in BUILD_DIR/corpus/TARGET across runs; crashes, hangs (over
# 10 s for one input) and inputs that need over 2 GB land in
# BUILD_DIR/artifacts/ and make the script fail.
set -euo pipefail
build=${1:?usage: run-fuzzers.sh BUILD_DIR SECONDS [TARGET...]}
seconds=${2:-60}
shift 2 || true
src=$(cd "$(dirname "$0")/.." && pwd)
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for f in "$build"/fuzz/*_fuzzer; do targets+=("$(basename "$f")"); done
fi
mkdir -p "$build/artifacts"
seeds="$build/seeds"

make_seeds() {
  [ -f "$seeds/.done" ] && return
  rm -rf "$seeds"
  mkdir -p "$seeds"/{file_system,mft_record,compound_document,signature_text,signature_file,registry_store,partition_table,exfat,language_file}
  local work
  work=$(mktemp -d /tmp/qm-seeds.XXXXXX)
  printf 'hello\n' > "$work/a.txt"
  head -c 3000 /dev/urandom > "$work/b.bin"
  # FAT12 and FAT16 volumes with a folder, files and a deleted file.
  for spec in "12 200" "16 2200"; do
    set -- $spec
    local img="$seeds/file_system/fat$1.img"
    mkfs.fat -F "$1" -s 1 -C "$img" "$2" >/dev/null
    mmd -i "$img" ::/DIR
    mcopy -i "$img" "$work/a.txt" "::/DIR/Long file name.txt"
    mcopy -i "$img" "$work/b.bin" ::/b.bin
    mdel -i "$img" ::/b.bin
  done
  # An NTFS volume, and its records one by one for the record parser.
  truncate -s 2M "$seeds/file_system/ntfs.img"
  mkntfs -F -Q -q -c 512 "$seeds/file_system/ntfs.img" >/dev/null 2>&1
  python3 - "$seeds/file_system/ntfs.img" "$seeds/mft_record" <<'PY'
import sys
data = open(sys.argv[1], "rb").read()
n = 0
for at in range(0, len(data), 1024):
    if data[at:at + 4] == b"FILE":
        open("%s/record%03d" % (sys.argv[2], n), "wb").write(data[at:at + 1024])
        n += 1
PY
  # Whole disks: an MBR with primary and logical partitions, and a GPT, each
  # partition formatted; and a GPT whose primary header is wiped.
  # Small, so that each run is quick.
  local disk="$seeds/partition_table/mbr.img"
  truncate -s 1M "$disk"
  printf 'label: dos\nstart=64, size=512, type=1\nstart=576, size=1024, type=5\nstart=640, size=512, type=b\nstart=1664, size=256, type=7\n' \
    | sfdisk -q "$disk" >/dev/null
  # (mkfs.fat counts 1 KiB blocks.)
  mkfs.fat -F 12 --offset 64 "$disk" 256 >/dev/null
  mkfs.fat -F 12 --offset 640 "$disk" 256 >/dev/null
  disk="$seeds/partition_table/gpt.img"
  truncate -s 1M "$disk"
  printf 'label: gpt\nstart=64, size=512, type=EBD0A0A2-B9E5-4433-87C0-68B6B72699C7\nstart=576, size=1024\n' \
    | sfdisk -q "$disk" >/dev/null
  mkfs.fat -F 12 --offset 64 "$disk" 256 >/dev/null
  cp "$disk" "$seeds/partition_table/gpt-backup.img"
  dd if=/dev/zero of="$seeds/partition_table/gpt-backup.img" bs=512 seek=1 count=1 conv=notrunc status=none
  # exFAT volumes: an empty one, and one with folders, long and non-ASCII
  # names and a deleted file where the FUSE driver can fill it.
  truncate -s 2M "$seeds/exfat/empty.img"
  mkfs.exfat -b 4096 "$seeds/exfat/empty.img" >/dev/null
  if [ "$(id -u)" -eq 0 ] && command -v mount.exfat-fuse >/dev/null && [ -e /dev/fuse ]; then
    local img="$seeds/exfat/tree.img" mnt="$work/mnt"
    truncate -s 2M "$img"
    mkfs.exfat -b 4096 -L Seeds "$img" >/dev/null
    mkdir -p "$mnt"
    local loop
    if loop=$(losetup -f --show "$img" 2>/dev/null) && mount.exfat-fuse "$loop" "$mnt" 2>/dev/null; then
      mkdir -p "$mnt/Folder/Ünterordner"
      cp "$work/a.txt" "$mnt/Folder/Ünterordner/A rather long file name.txt"
      head -c 700 "$work/b.bin" > "$mnt/Folder/b.bin"
      head -c 300 "$work/b.bin" > "$mnt/gone.bin"
      rm "$mnt/gone.bin"
      umount "$mnt"
    fi
    [ -n "${loop:-}" ] && losetup -d "$loop"
  fi
  # Language files: the shipped ones, and one in UTF-16 with escapes.
  cp "$src"/data/Languages/*.lng "$seeds/language_file/"
  printf '[Info]\nName=Test\n[Strings]\n1="a\\nb"\n2=x\\ty\n' | iconv -t UTF-16 > "$seeds/language_file/utf16.lng"
  # Compound documents, as the signature samples build them.
  python3 - "$work/docs" "$src/scripts/make-signature-samples.py" <<'PY'
import sys
source = open(sys.argv[2]).read()
sys.argv = [sys.argv[2], sys.argv[1]]
scope = {"__name__": "seeds"}
exec(compile(source[:source.rindex("\nmain()")], "samples", "exec"), scope)
scope["documents"]()
PY
  for f in "$work"/docs/*.{xls,doc,ppt,pub,vsd,mpp,ole,hwp}; do [ -f "$f" ] && cp "$f" "$seeds/compound_document/"; done
  # Signature texts of the shipped database, each followed by a sector.
  python3 - "$src/data/signatures.reg" "$seeds/signature_text" <<'PY'
import re, sys
texts = re.findall(r'^"Signature\d*"="(.*)"$', open(sys.argv[1], encoding="utf-8").read(), re.M)
for n, text in enumerate(texts[:200]):
    open("%s/sig%03d" % (sys.argv[2], n), "wb").write(text.encode() + b"\n" + bytes(512))
PY
  # Signature files: the numeric part and a few conditions, packed.
  python3 - "$seeds/signature_file" <<'PY'
import struct, sys
def condition(kind, offset, data, repeat=0, length=0):
    return struct.pack("<IIiHH", kind, 32 + len(data), offset, repeat, length) + bytes(16) + data
def signature(conditions):
    body = b"".join(conditions)
    return struct.pack("<IIIII", 0, 20 + len(body), 0, 0, len(conditions)) + body
for n, sigs in enumerate([[[condition(256, 0, b"QMSIG", 0, 5)]],
                          [[condition(1, 0, b"\x7f"), condition(0x1000, -1, b"ELF")], [condition(4, 8, b"\x01\x02\x03\x04")]],
                          [[condition(0x10000, 0, b"PK\x03\x04" + b"\xff" * 4, 0, 4)]]]):
    head = bytearray(1436)
    struct.pack_into("<iIIII", head, 0, 300 + n, 0, 1, 0, 1)
    struct.pack_into("<I", head, 1432, len(sigs))
    open("%s/type%d.filesig" % (sys.argv[1], n), "wb").write(bytes(head) + b"".join(signature(s) for s in sigs))
PY
  # Settings stores: the shipped database's start, and a small store.
  head -c 6000 "$src/data/signatures.reg" > "$seeds/registry_store/shipped"
  printf 'Quillmore registry store, version 1\n\n[Software\\Quillmore\\Professional\\1.0]\n"Settings"=hex:00,01,\\\n  02\n"Name"="a\\"b"\n"N"=dword:0000000a\n' \
    > "$seeds/registry_store/small"
  rm -rf "$work"
  touch "$seeds/.done"
}

make_seeds
status=0
for target in "${targets[@]}"; do
  name=${target%_fuzzer}
  corpus="$build/corpus/$name"
  mkdir -p "$corpus"
  echo "== $target: ${seconds}s"
  log="$build/artifacts/$name.log"
  if ! nice -n "${FUZZ_NICE:-19}" "$build/fuzz/$target" "$corpus" "$seeds/$name" -max_total_time="$seconds" -timeout=10 \
      -rss_limit_mb=2048 -max_len=2400000 -print_final_stats=1 -artifact_prefix="$build/artifacts/$name-" \
      >"$log" 2>&1; then
    echo "!! $target failed: see $log"
    status=1
  fi
  grep -E "^(stat::number_of_executed_units|stat::peak_rss_mb)|cov: " "$log" | tail -3
done
exit $status
