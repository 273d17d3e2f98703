#!/usr/bin/env python3
"""Times deflate_tool against gzip on the same inputs, in the same run.

Usage: deflate_vs_gzip.py DEFLATE_TOOL [FILE...]

Without files, English-like text and database-like binary (8 MiB each) are
generated. For levels 1, 6 and 9 it prints each program's best wall time of
five runs, its throughput over the input and the compressed size (gzip's
without its 18 bytes of header and trailer), and whether the two raw streams
are identical. gzip also computes a CRC-32, which deflate_tool does not.
"""
import os
import random
import struct
import subprocess
import sys
import tempfile
import time

SIZE = 8 << 20


def generate(tmp):
    rng = random.Random(3)
    words = ["".join(rng.choice("etaoinshrdlucmfwypvbgk") for _ in range(rng.randint(1, 10)))
             for _ in range(3000)]
    weights = [1.0 / (i + 1) for i in range(len(words))]
    text = bytearray()
    while len(text) < SIZE:
        text += (" ".join(rng.choices(words, weights, k=20000)) + "\n").encode()
    binary = bytearray()
    record = 0
    while len(binary) < SIZE:
        page = bytearray()
        while len(page) < 3900:
            name = bytes(rng.choice(b"ABCDEFGHIJKLMNOPQRSTUVWXYZ") for _ in range(rng.randint(3, 14)))
            page += struct.pack("<II16sB", record, rng.randrange(50000), name, rng.randrange(3))
            record += 1
        binary += page.ljust(4096, b"\0")
    paths = []
    for name, data in (("text", text[:SIZE]), ("binary", binary[:SIZE])):
        path = os.path.join(tmp, name)
        with open(path, "wb") as f:
            f.write(data)
        paths.append(path)
    return paths


def best_time(args, stdout):
    best = None
    for _ in range(5):
        start = time.perf_counter()
        subprocess.run(args, check=True, stdout=stdout)
        elapsed = time.perf_counter() - start
        best = elapsed if best is None or elapsed < best else best
    return best


def main():
    tool = sys.argv[1]
    with tempfile.TemporaryDirectory() as tmp:
        files = sys.argv[2:] or generate(tmp)
        out = os.path.join(tmp, "out.d")
        print("%-10s %5s %12s %12s %10s %10s %s" % ("input", "level", "ours MB/s", "gzip MB/s",
                                                    "ours size", "gzip size", "same"))
        for path in files:
            size = os.path.getsize(path)
            for level in (1, 6, 9):
                ours = best_time([tool, str(level), path, out], subprocess.DEVNULL)
                with open(os.devnull, "wb") as null:
                    peer = best_time(["gzip", "-%d" % level, "-n", "-c", path], null)
                mine = open(out, "rb").read()
                theirs = subprocess.run(["gzip", "-%d" % level, "-n", "-c", path], check=True,
                                        capture_output=True).stdout[10:-8]
                print("%-10s %5d %12.1f %12.1f %10d %10d %s" % (
                    os.path.basename(path), level, size / ours / 1e6, size / peer / 1e6,
                    len(mine), len(theirs), "yes" if mine == theirs else "no"))


if __name__ == "__main__":
    main()
