#!/usr/bin/env python3
"""Compares the encoder's streams with gzip's, byte for byte.

Usage: gzip_parity.py DEFLATE_TOOL

GNU gzip's deflate makes the same choices as our encoder (hash chains, lazy
matching, tree construction, block ends), so its raw stream (the .gz file
without its 10-byte header and 8-byte trailer, written with -n) is a peer
for ours. The two differ only in what a search near the end of the input
finds past the last byte; the inputs here end in a few hundred bytes of noise,
where nothing matches, so the streams must be identical. This pins the exact
code lengths, tie-breaks and block boundaries that a decoder cannot see.
Skipped (exit code 77) when gzip is not installed.
"""
import os
import random
import shutil
import subprocess
import sys
import tempfile


def inputs():
    rng = random.Random(1996)

    def noise(n):
        return bytes(rng.getrandbits(8) for _ in range(n))

    words = [
        "".join(rng.choice("etaoinshrdlucmfwyp") for _ in range(rng.randint(1, 9)))
        for _ in range(400)
    ]
    text = " ".join(rng.choice(words) for _ in range(120000)).encode()
    records = bytearray()
    for i in range(30000):
        records += i.to_bytes(4, "little") + bytes([i % 7, 0, 0, 255, rng.randrange(4), 0])
    sparse = bytearray(noise(2000))
    while len(sparse) < 300000:
        sparse += noise(5)
        start = len(sparse) - 100 - rng.randrange(min(len(sparse) - 100, 20000))
        sparse += sparse[start:start + 40]
    runs = b"".join(bytes([rng.getrandbits(8)]) * rng.randint(1, 600) for _ in range(800))
    tail = noise(600)
    samples = {
        "text": text,
        "records": bytes(records),
        "sparse": bytes(sparse),
        "runs": runs,
        "mixed": text[:200000] + noise(40000) + bytes(records[:100000]) + runs + text[-50000:],
        "short_text": text[:20000],
    }
    return {name: data + tail for name, data in samples.items()}


def main():
    tool = sys.argv[1]
    if shutil.which("gzip") is None:
        print("gzip is not installed")
        return 77
    problems = []
    data = inputs()
    with tempfile.TemporaryDirectory() as tmp:
        for name, content in data.items():
            with open(os.path.join(tmp, name), "wb") as f:
                f.write(content)
        for level in range(1, 10):
            args = [tool, str(level)]
            for name in data:
                args += [os.path.join(tmp, name), os.path.join(tmp, name + ".d")]
            subprocess.run(args, check=True, capture_output=True)
            for name in data:
                ours = open(os.path.join(tmp, name + ".d"), "rb").read()
                peer = subprocess.run(["gzip", "-%d" % level, "-n", "-c", os.path.join(tmp, name)],
                                      check=True, capture_output=True).stdout[10:-8]
                if ours != peer:
                    at = next((i for i in range(min(len(ours), len(peer))) if ours[i] != peer[i]),
                              min(len(ours), len(peer)))
                    problems.append("%s at level %d: %d bytes, gzip %d; first difference at byte %d"
                                    % (name, level, len(ours), len(peer), at))
    for p in problems:
        print(p)
    print("%d differences" % len(problems))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
