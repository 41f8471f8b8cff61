#!/usr/bin/env python3
# Writes test files with deterministic, compressible content that differs in
# every 64-byte line, so a misplaced or missing piece is always noticed.
# Takes lines of "BYTES PATH" on its input and writes each file; stops
# quietly when the volume is full.
import sys, errno
for line in sys.stdin:
    size, path = line.rstrip("\n").split(" ", 1)
    size = int(size)
    name = path.rsplit("/", 1)[-1]
    out = bytearray()
    i = 0
    while len(out) < size:
        out += ("%s %08d " % (name, i)).ljust(63, ".").encode()[:63] + b"\n"
        i += 1
    try:
        with open(path, "wb") as f:
            f.write(bytes(out[:size]))
    except OSError as e:
        if e.errno != errno.ENOSPC:
            raise
        break
