#!/usr/bin/env python3
"""Times deflate_tool against gzip on the same inputs, in the same run.

Usage: deflate_vs_gzip.py [--runs N] [--levels 1,6,9] [--second-thread] DEFLATE_TOOL [FILE...]

Without files, English-like text and database-like binary (8 MiB each) are
generated. For each file and level the two programs run N times (default 5)
in turn, ours then gzip's, so that a drift of the machine's speed touches
both alike, each writing to /dev/null; it prints the median wall time of
each as throughput over the input, their ratio, the compressed sizes (gzip's
without its 18 bytes of header and trailer, from one more run of each into a
file) and whether the two raw streams are identical. gzip also computes a
CRC-32, which deflate_tool does not. With --second-thread our encoder codes
its blocks on a second thread (as dbzip with one job and the window do); its
figures then need two processors, not a run pinned to one.
"""
import argparse
import os
import random
import statistics
import struct
import subprocess
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


def timed(args):
    with open(os.devnull, "wb") as null:
        start = time.perf_counter()
        subprocess.run(args, check=True, stdout=null)
        return time.perf_counter() - start


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--levels", default="1,6,9")
    parser.add_argument("--second-thread", action="store_true")
    parser.add_argument("tool")
    parser.add_argument("files", nargs="*")
    opts = parser.parse_args()
    levels = [int(x) for x in opts.levels.split(",")]
    tool = [opts.tool] + (["--second-thread"] if opts.second_thread else [])
    with tempfile.TemporaryDirectory() as tmp:
        files = opts.files or generate(tmp)
        out = os.path.join(tmp, "out.d")
        print("%-20s %5s %10s %10s %6s %11s %11s %s" % (
            "input", "level", "ours MB/s", "gzip MB/s", "ratio", "ours size", "gzip size",
            "same"), flush=True)
        for path in files:
            size = os.path.getsize(path)
            for level in levels:
                ours, peer = [], []
                for _ in range(opts.runs):
                    ours.append(timed(tool + [str(level), path, os.devnull]))
                    peer.append(timed(["gzip", "-%d" % level, "-n", "-c", path]))
                subprocess.run(tool + [str(level), path, out], check=True,
                               stdout=subprocess.DEVNULL)
                mine = open(out, "rb").read()
                theirs = subprocess.run(["gzip", "-%d" % level, "-n", "-c", path], check=True,
                                        capture_output=True).stdout[10:-8]
                t_ours, t_peer = statistics.median(ours), statistics.median(peer)
                print("%-20s %5d %10.1f %10.1f %6.2f %11d %11d %s" % (
                    os.path.basename(path), level, size / t_ours / 1e6, size / t_peer / 1e6,
                    t_peer / t_ours, len(mine), len(theirs), "yes" if mine == theirs else "no"),
                    flush=True)


if __name__ == "__main__":
    main()
