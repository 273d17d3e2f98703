#!/usr/bin/env python3
"""Independent check of the encoder's output with Python's zlib decoder.

Usage: zlib_check.py DEFLATE_TOOL

Runs deflate_tool over generated inputs at every level, one entry per run and
then all entries in one run (sharing the work buffers), and checks that every
output decodes with zlib to its input (or is the input itself when stored),
that the printed size is the output's size, and that the header fields follow
the level. Entries compressed in a row must come out as they do alone.
"""
import os
import random
import subprocess
import sys
import tempfile
import zlib


def inputs():
    rng = random.Random(1951)
    words = [
        "".join(rng.choice("etaoinshrdlucmfwyp") for _ in range(rng.randint(1, 9)))
        for _ in range(400)
    ]
    text = " ".join(rng.choice(words) for _ in range(90000)).encode()
    noise = bytes(rng.getrandbits(8) for _ in range(150000))
    binary = bytearray()
    for i in range(40000):
        binary += i.to_bytes(4, "little") + bytes([i % 7, 0, 0, 255]) + bytes(rng.randrange(3) for _ in range(4))
    runs = b"".join(bytes([rng.getrandbits(8)]) * rng.randint(1, 600) for _ in range(2000))
    return {
        "empty": b"",
        "one": b"\x00",
        "abcabc": b"abcabc",
        "small_noise": noise[:9000],
        "text": text,
        "noise": noise,
        "binary": bytes(binary),
        "runs": runs,
        "mixed": text[:70000] + noise[:40000] + bytes(binary[:90000]) + runs[:50000] + text[-30000:],
        "exact_half": text[:32768],
        "window_plus_one": (text + noise)[:65537],
    }


def expected_flags(level):
    return 4 if level <= 2 else 2 if level >= 8 else 0


def check_entry(name, level, data, out_path, line, problems):
    fields = dict(kv.split("=") for kv in line.split())
    out = open(out_path, "rb").read()
    where = "%s at level %d" % (name, level)
    if int(fields["size"]) != len(out):
        problems.append("%s: size %s but %d bytes written" % (where, fields["size"], len(out)))
    if int(fields["flags"]) != expected_flags(level):
        problems.append("%s: flags %s" % (where, fields["flags"]))
    if fields["internal"] not in ("0", "1"):
        problems.append("%s: internal %s" % (where, fields["internal"]))
    if fields["method"] == "0":
        if out != data:
            problems.append("%s: stored entry differs from its input" % where)
    elif fields["method"] == "8":
        d = zlib.decompressobj(-15)
        try:
            decoded = d.decompress(out) + d.flush()
        except zlib.error as e:
            problems.append("%s: zlib rejects the stream: %s" % (where, e))
            return out
        if decoded != data:
            problems.append("%s: decodes to different data" % where)
        if not d.eof or d.unused_data:
            problems.append("%s: stream not ended exactly" % where)
    else:
        problems.append("%s: method %s" % (where, fields["method"]))
    return out


def main():
    tool = sys.argv[1]
    problems = []
    data = inputs()
    with tempfile.TemporaryDirectory() as tmp:
        for name, content in data.items():
            with open(os.path.join(tmp, name), "wb") as f:
                f.write(content)
        for level in range(1, 10):
            alone = {}
            for name, content in data.items():
                src = os.path.join(tmp, name)
                dst = os.path.join(tmp, name + ".alone")
                run = subprocess.run([tool, str(level), src, dst], capture_output=True, text=True)
                if run.returncode != 0:
                    problems.append("%s at level %d: tool failed: %s" % (name, level, run.stderr))
                    continue
                alone[name] = check_entry(name, level, content, dst, run.stdout.strip(), problems)
            args = [tool, str(level)]
            for name in data:
                args += [os.path.join(tmp, name), os.path.join(tmp, name + ".row")]
            run = subprocess.run(args, capture_output=True, text=True)
            lines = run.stdout.strip().splitlines()
            if run.returncode != 0 or len(lines) != len(data):
                problems.append("level %d: several entries in a row failed: %s" % (level, run.stderr))
                continue
            for (name, content), line in zip(data.items(), lines):
                out = check_entry(name, level, content, os.path.join(tmp, name + ".row"), line, problems)
                if name in alone and out != alone[name]:
                    problems.append("%s at level %d: differs after earlier entries" % (name, level))
    for p in problems:
        print(p)
    print("%d problems" % len(problems))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
