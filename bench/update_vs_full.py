#!/usr/bin/env python3
"""Times a night where no database changed: `dbzip -u -6` over a tree whose
archives already hold every database, against the full `dbzip -6` over the
same tree, rounds alternating so that a drift of the machine's speed touches
both alike; the median of each and their ratio (the goal is at most 0.1).
Both runs find the databases in the system's cache after the first round, as
a nightly run over a tree that fits in memory would; --update still reads
every byte of each for its CRC-32.

usage: update_vs_full.py BUILD_DIR WORK_DIR [LARGEST_MB] [ROUNDS]
WORK_DIR keeps the databases (bench/make_databases.py) between runs.
"""
import json
import os
import shutil
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))


def timed(argv):
    start = time.perf_counter()
    subprocess.run(argv, check=True, stdout=subprocess.DEVNULL)
    return time.perf_counter() - start


def main():
    build, work = sys.argv[1], sys.argv[2]
    largest = sys.argv[3] if len(sys.argv) > 3 else "200"
    rounds = int(sys.argv[4]) if len(sys.argv) > 4 else 5
    dbzip = os.path.join(build, "bin", "dbzip")
    src = os.path.join(work, "databases")
    subprocess.run([sys.executable, os.path.join(HERE, "make_databases.py"), src, largest],
                   check=True)
    size = sum(os.path.getsize(os.path.join(src, n)) for n in os.listdir(src))
    full_out, update_out = os.path.join(work, "full"), os.path.join(work, "update")
    for out in (full_out, update_out):
        shutil.rmtree(out, ignore_errors=True)
        os.makedirs(out)
        subprocess.run([dbzip, "-q", "-6", src, out], check=True)

    # Every database must be found unchanged, or the figure says nothing.
    summary = json.loads(subprocess.run([dbzip, "-u", "-6", "--json", src, update_out],
                                        check=True, capture_output=True,
                                        text=True).stdout.splitlines()[-1])
    if summary["unchanged"] != summary["found"]:
        print(f"only {summary['unchanged']} of {summary['found']} unchanged", file=sys.stderr)
        return 1

    runs = {"dbzip -6": [], "dbzip -u -6": []}
    for _ in range(rounds):
        runs["dbzip -6"].append(timed([dbzip, "-q", "-6", src, full_out]))
        runs["dbzip -u -6"].append(timed([dbzip, "-q", "-u", "-6", src, update_out]))
    print(f"{len(os.listdir(src))} databases, {size} bytes, none changed; "
          f"median of {rounds} rounds")
    medians = {name: statistics.median(times) for name, times in runs.items()}
    for name, seconds in medians.items():
        print(f"  {name:<12} {seconds:7.3f} s  {size / seconds / 1e6:8.1f} MB/s")
    ratio = medians["dbzip -u -6"] / medians["dbzip -6"]
    print(f"  --update takes {ratio:.3f}x the full run's time (goal: at most 0.1x)")
    for out in (full_out, update_out):
        shutil.rmtree(out, ignore_errors=True)
    return 0 if ratio <= 0.1 else 1


if __name__ == "__main__":
    sys.exit(main())
