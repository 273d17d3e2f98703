#!/usr/bin/env python3
"""Times dbzip --check against Info-ZIP's `unzip -tq` on the same folder of
archives: the databases of make_databases.py zipped by dbzip at level 6, kept
as two generations each (--keep 1), then `dbzip --check -j1`, `dbzip --check
-j2` and a loop of `unzip -tq` over the same archives, in turns, the median
of each shown with the processor time it took and the ratios. Before every
timed command the archives are dropped from the system's cache, as dbzip
--check itself drops each one before it reads it, so that all three read the
disk. Speed per core is the archives' bytes over the processor time; the
gain of -j2 shows only on processors that other work leaves free (the load
average is printed).

usage: check_vs_unzip.py BUILD_DIR WORK_DIR [LARGEST_MB] [ROUNDS]
WORK_DIR keeps the databases and the archives between runs; it should be on
a disk, not tmpfs.
"""
import os
import resource
import shutil
import statistics
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import make_databases  # noqa: E402


def drop_cache(paths):
    for path in paths:
        fd = os.open(path, os.O_RDONLY)
        try:
            os.posix_fadvise(fd, 0, 0, os.POSIX_FADV_DONTNEED)
        finally:
            os.close(fd)


def children_cpu():
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    return usage.ru_utime + usage.ru_stime


def timed(commands):
    """Wall and processor seconds of the commands run one after the other."""
    cpu, start = children_cpu(), time.perf_counter()
    for argv in commands:
        subprocess.run(argv, check=True, stdout=subprocess.DEVNULL)
    return time.perf_counter() - start, children_cpu() - cpu


def main():
    build, work = sys.argv[1], sys.argv[2]
    largest = sys.argv[3] if len(sys.argv) > 3 else "200"
    rounds = int(sys.argv[4]) if len(sys.argv) > 4 else 5
    dbzip = os.path.join(build, "bin", "dbzip")
    unzip = shutil.which("unzip")
    if unzip is None:
        sys.exit("unzip is not installed")
    src, out = os.path.join(work, "databases"), os.path.join(work, "archives")
    sys.argv = ["make_databases.py", src, largest]
    make_databases.main()
    if not os.path.isdir(out):
        os.makedirs(out)
        for _ in range(2):
            subprocess.run([dbzip, "-q", "-6", "-j", "0", "--keep", "1", src, out], check=True)
    archives = sorted(os.path.join(out, name) for name in os.listdir(out))
    size = sum(os.path.getsize(path) for path in archives)

    tools = {
        "dbzip --check -j1": [[dbzip, "--check", "-q", "-j", "1", out]],
        "dbzip --check -j2": [[dbzip, "--check", "-q", "-j", "2", out]],
        "unzip -tq, one by one": [[unzip, "-tq", path] for path in archives],
    }
    runs = {name: [] for name in tools}
    load = os.getloadavg()[0]
    for _ in range(rounds):
        for name, commands in tools.items():
            drop_cache(archives)
            runs[name].append(timed(commands))
    print(f"{len(archives)} archives, {size} bytes, median of {rounds} rounds; load average"
          f" {load:.1f} before, {os.getloadavg()[0]:.1f} after, on {os.cpu_count()} processors")
    wall = {name: statistics.median(t[0] for t in times) for name, times in runs.items()}
    cpu = {name: statistics.median(t[1] for t in times) for name, times in runs.items()}
    for name in tools:
        print(f"  {name:<22} {wall[name]:6.2f} s  {size / wall[name] / 1e6:7.1f} MB/s"
              f"  processor {cpu[name]:6.2f} s  {size / cpu[name] / 1e6:7.1f} MB/s")
    one, two, peer = "dbzip --check -j1", "dbzip --check -j2", "unzip -tq, one by one"
    print(f"  unzip -tq takes {wall[peer] / wall[one]:.2f}x the time of dbzip --check -j1"
          f" ({cpu[peer] / cpu[one]:.2f}x its processor time)")
    print(f"  -j2 is {wall[one] / wall[two]:.2f}x as fast as -j1")
    return 0 if wall[one] <= wall[peer] else 1


if __name__ == "__main__":
    sys.exit(main())
