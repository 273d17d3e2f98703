#!/usr/bin/env python3
"""Times a night where no database changed: `dbzip -u -6` over a tree whose
archives already hold every database, against the full `dbzip -6` over the
same tree, rounds alternating so that a drift of the machine's speed touches
both alike; the median of each and their ratio (the goal is at most 0.1).
Each pair runs twice: warm, with the databases and archives in the system's
cache, as a nightly run over a tree that fits in memory finds them; and
cold, their pages dropped from the cache first (posix_fadvise, file by file,
so that nothing else on the machine loses its cache), so that both read the
disk. --update reads every byte of each database for its CRC-32, so cold it
costs at least a read of the tree.

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


def drop_cached(*folders):
    for folder in folders:
        for name in os.listdir(folder):
            fd = os.open(os.path.join(folder, name), os.O_RDONLY)
            try:
                os.posix_fadvise(fd, 0, 0, os.POSIX_FADV_DONTNEED)
            finally:
                os.close(fd)


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

    runs = {}
    for _ in range(rounds):
        for cache in ("warm", "cold"):
            for name, argv in (("dbzip -6", [dbzip, "-q", "-6", src, full_out]),
                               ("dbzip -u -6", [dbzip, "-q", "-u", "-6", src, update_out])):
                if cache == "cold":
                    drop_cached(src, full_out, update_out)
                runs.setdefault((cache, name), []).append(timed(argv))
    print(f"{len(os.listdir(src))} databases, {size} bytes, none changed; "
          f"median of {rounds} rounds")
    medians = {key: statistics.median(times) for key, times in runs.items()}
    ratios = {}
    for cache in ("warm", "cold"):
        for name in ("dbzip -6", "dbzip -u -6"):
            seconds = medians[(cache, name)]
            print(f"  {cache} {name:<12} {seconds:7.3f} s  {size / seconds / 1e6:8.1f} MB/s")
        ratios[cache] = medians[(cache, "dbzip -u -6")] / medians[(cache, "dbzip -6")]
        print(f"  {cache}: --update takes {ratios[cache]:.3f}x the full run's time "
              "(goal: at most 0.1x)")
    for out in (full_out, update_out):
        shutil.rmtree(out, ignore_errors=True)
    return 0 if ratios["warm"] <= 0.1 else 1


if __name__ == "__main__":
    sys.exit(main())
