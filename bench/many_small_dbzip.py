#!/usr/bin/env python3
"""Times dbzip over many small databases (by default 10,000 of 1 KB each), where
the cost of a run is the file system's, not the encoder's: opening, syncing
and renaming each archive. Each dbzip named is timed side by side in the same
rounds, alternating, into an empty folder and again over the archives the
first run left; the median of the rounds is shown. Nothing is deleted until
the end: ext4 slows the making of new files while it has many inodes freed in
the last moments, which would charge one tool for another's clean-up.

usage: many_small_dbzip.py DBZIP [DBZIP...] [--count N] [--size BYTES] [--rounds R]
"""
import argparse
import os
import shutil
import statistics
import subprocess
import tempfile
import time


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("dbzip", nargs="+")
    parser.add_argument("--count", type=int, default=10000)
    parser.add_argument("--size", type=int, default=1024)
    parser.add_argument("--rounds", type=int, default=3)
    args = parser.parse_args()

    work = tempfile.mkdtemp(prefix="tw-bench-", dir=os.environ.get("TW_BENCH_DIR"))
    src = os.path.join(work, "src")
    os.mkdir(src)
    for i in range(args.count):
        row = f"row {i} of a small database\n".encode()
        with open(os.path.join(src, f"db{i:05}.mdf"), "wb") as f:
            f.write((row * (args.size // len(row) + 1))[: args.size])

    times = {(d, kind): [] for d in args.dbzip for kind in ("new", "replace")}
    try:
        for round in range(args.rounds):
            # Alternate which tool goes first, so that neither always meets
            # the file system just after the other.
            order = args.dbzip if round % 2 == 0 else list(reversed(args.dbzip))
            for n, dbzip in enumerate(order):
                out = os.path.join(work, f"out{round}-{n}")
                os.mkdir(out)
                for kind in ("new", "replace"):
                    subprocess.run(["sync"], check=True)
                    start = time.perf_counter()
                    subprocess.run([dbzip, "-q", src, out], check=True, stdout=subprocess.DEVNULL)
                    times[(dbzip, kind)].append(time.perf_counter() - start)
    finally:
        shutil.rmtree(work)
    print(f"{args.count} databases of {args.size} bytes, median of {args.rounds} rounds")
    print(f"{'dbzip':60} {'new (s)':>9} {'replace (s)':>12}")
    for dbzip in args.dbzip:
        new = statistics.median(times[(dbzip, "new")])
        replace = statistics.median(times[(dbzip, "replace")])
        print(f"{dbzip:60} {new:9.2f} {replace:12.2f}")


if __name__ == "__main__":
    main()
