#!/usr/bin/env python3
"""Times what dbzip --verify costs: the same run of one database of 80 MB or
more at level 6 with and without it, rounds alternating so that a drift of the
machine's speed touches both alike, the median of each shown with their ratio
(the goal is at most 1.25). As a peer, Info-ZIP's `zip -6` and the same
followed by `zip -T` (which tests the archive with unzip) on the same file,
when zip is installed.

usage: verify_cost.py BUILD_DIR WORK_DIR [MB] [ROUNDS]
WORK_DIR keeps the database between runs; it should be on a disk, not tmpfs,
so that the read-back reads the disk.
"""
import os
import shutil
import statistics
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from make_databases import make_db  # noqa: E402


def timed(argv):
    start = time.perf_counter()
    subprocess.run(argv, check=True, stdout=subprocess.DEVNULL)
    return time.perf_counter() - start


def main():
    build, work = sys.argv[1], sys.argv[2]
    mb = int(sys.argv[3]) if len(sys.argv) > 3 else 96
    rounds = int(sys.argv[4]) if len(sys.argv) > 4 else 5
    dbzip = os.path.join(build, "bin", "dbzip")
    src, out = os.path.join(work, "src"), os.path.join(work, "out")
    os.makedirs(src, exist_ok=True)
    db = os.path.join(src, f"Verify{mb}_dat.mdf")
    if not os.path.exists(db):
        print(f"making {os.path.basename(db)} ({mb} MB)...", file=sys.stderr)
        make_db(db, mb << 20, seed=mb)
    for name in os.listdir(src):
        if os.path.join(src, name) != db:
            os.remove(os.path.join(src, name))
    size = os.path.getsize(db)
    peer = shutil.which("zip")
    zipped = os.path.join(work, "peer.zip")

    def fresh():
        shutil.rmtree(out, ignore_errors=True)
        os.makedirs(out)

    runs = {"dbzip -l 6": [], "dbzip -l 6 --verify": []}
    if peer:
        runs.update({"zip -6": [], "zip -6, zip -T": []})
    for _ in range(rounds):
        fresh()
        runs["dbzip -l 6"].append(timed([dbzip, "-q", "-l", "6", src, out]))
        fresh()
        runs["dbzip -l 6 --verify"].append(timed([dbzip, "-q", "-l", "6", "--verify", src, out]))
        if peer:
            for with_test in (False, True):
                if os.path.exists(zipped):
                    os.remove(zipped)
                seconds = timed([peer, "-q", "-j", "-6", zipped, db])
                if with_test:
                    seconds += timed([peer, "-T", "-q", zipped])
                runs["zip -6, zip -T" if with_test else "zip -6"].append(seconds)
    print(f"{os.path.basename(db)}: {size} bytes, median of {rounds} rounds")
    medians = {name: statistics.median(times) for name, times in runs.items()}
    for name, seconds in medians.items():
        print(f"  {name:<22} {seconds:7.2f} s  {size / seconds / 1e6:7.1f} MB/s")
    ratio = medians["dbzip -l 6 --verify"] / medians["dbzip -l 6"]
    print(f"  --verify costs {ratio:.3f}x the run without it (goal: at most 1.25x)")
    if peer:
        print(f"  zip -T costs {medians['zip -6, zip -T'] / medians['zip -6']:.3f}x zip -6 alone")
    shutil.rmtree(out, ignore_errors=True)
    return 0 if ratio <= 1.25 else 1


if __name__ == "__main__":
    sys.exit(main())
