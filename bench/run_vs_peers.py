#!/usr/bin/env python3
"""Times whole runs over a folder of databases, side by side in one run:
dbzip (one job and two) against a per-file gzip loop, per-file `zip` archives
and per-file `7zz a -tzip` archives, at levels 1, 6 and 9, with the output
sizes beside the times. The median of several rounds is shown; rounds alternate
between the tools so that a drift of the machine's speed touches all of them
alike. 7zz, many times slower than the rest, is timed in the first round only.
Peers missing from the machine are left out of the table.

usage: run_vs_peers.py BUILD_DIR DATA_DIR [ROUNDS]
"""
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time


def files_of(folder):
    return sorted(os.path.join(folder, n) for n in os.listdir(folder) if n.endswith(".mdf"))


def folder_size(folder):
    return sum(os.path.getsize(os.path.join(folder, n)) for n in os.listdir(folder))


def main():
    build, data = sys.argv[1], sys.argv[2]
    rounds = int(sys.argv[3]) if len(sys.argv) > 3 else 3
    dbzip = os.path.join(build, "bin", "dbzip")
    inputs = files_of(data)
    total_in = sum(os.path.getsize(f) for f in inputs)
    work = tempfile.mkdtemp(prefix="tw-bench-")

    def run_dbzip(level, jobs):
        def go(out):
            subprocess.run([dbzip, "-q", "-l", str(level), "-j", str(jobs), data, out], check=True)
        return go

    def run_gzip(level):
        def go(out):
            for f in inputs:
                with open(os.path.join(out, os.path.basename(f) + ".gz"), "wb") as dst:
                    subprocess.run(["gzip", "-c", f"-{level}", f], stdout=dst, check=True)
        return go

    def run_7zz(level):
        def go(out):
            for f in inputs:
                subprocess.run(["7zz", "a", "-tzip", f"-mx={level}", "-mmt=1", "-bso0", "-bsp0",
                                os.path.join(out, os.path.basename(f) + ".zip"), f], check=True)
        return go

    def run_zip(level):
        def go(out):
            for f in inputs:
                subprocess.run(["zip", "-q", "-j", f"-{level}",
                                os.path.join(out, os.path.basename(f) + ".zip"), f], check=True)
        return go

    tools = []
    slow = set()
    for level in (1, 6, 9):
        tools += [(f"dbzip -l{level}", level, run_dbzip(level, 1)),
                  (f"dbzip -l{level} --jobs 2", level, run_dbzip(level, 2)),
                  (f"gzip -{level} per file", level, run_gzip(level))]
        if shutil.which("zip"):
            tools.append((f"zip -{level} per file", level, run_zip(level)))
        if shutil.which("7zz"):
            tools.append((f"7zz a -tzip -mx={level} per file", level, run_7zz(level)))
            slow.add(tools[-1][0])

    times = {name: [] for name, _, _ in tools}
    sizes = {}
    for round_no in range(rounds):
        for name, _, go in tools:
            if round_no > 0 and name in slow:
                continue
            out = os.path.join(work, "out")
            shutil.rmtree(out, ignore_errors=True)
            os.makedirs(out)
            start = time.perf_counter()
            go(out)
            times[name].append(time.perf_counter() - start)
            sizes[name] = folder_size(out)
    shutil.rmtree(work, ignore_errors=True)

    print(f"{len(inputs)} files, {total_in / 1e6:.1f} MB in; median of {rounds} rounds\n")
    print(f"| {'command':34} | {'seconds':>8} | {'MB/s':>7} | {'output MB':>9} | {'vs gzip':>7} |")
    print(f"|{'-' * 36}|{'-' * 10}:|{'-' * 9}:|{'-' * 11}:|{'-' * 9}:|")
    for name, level, _ in tools:
        med = statistics.median(times[name])
        gz = statistics.median(times[f"gzip -{level} per file"])
        print(f"| {name:34} | {med:8.2f} | {total_in / 1e6 / med:7.1f} | "
              f"{sizes[name] / 1e6:9.2f} | {gz / med:6.2f}x |")


if __name__ == "__main__":
    main()
