#!/usr/bin/env python3
"""Times deflate_tool parsing one file with several threads against gzip,
pigz -p 2 and libdeflate-gzip, side by side in the same run, and sweeps the
thread count.

Usage: parallel_vs_peers.py [--runs N] [--levels 1,6,9] [--threads 2]
                            [--sweep 1,2,3,4] [--dbzip DBZIP] [--base TOOL]
                            DEFLATE_TOOL FILE...

--dbzip times a whole dbzip run with its defaults over a folder holding the
file alone (archive written, synced and renamed; the peers write to
/dev/null). --base times an older deflate_tool beside this one, both on one
thread pinned to the first processor (`taskset -c 0`, blocks coded on the
same thread), for a paired comparison of one build against the one before.
At level 1, igzip -1 and -3 are timed too where the machine has them.

--levels '' times the sweep alone; the sweep must start at 1.

For each file and level every command runs N times (default 5) in turn, so a
drift of the machine's speed touches all alike, each writing to /dev/null; the
table gives the median wall time as throughput over the input and its ratio
to gzip's, and whether our stream with threads is byte for byte the one of a
single thread ("same"). Ours always codes its blocks on a second thread (as
dbzip with one job does); "ours 1" parses on the calling thread, "ours N"
with N threads (at levels 1 to 3 only for a file of 16 MiB or more, as in
the archive writer). pigz resets its stream between chunks and the others
have their own parsers, so only ours is compared for identity. The sweep
times the first file at --sweep-level with 1, 2, ... parsing threads, with
the processor time they took.
"""
import argparse
import os
import shutil
import statistics
import subprocess
import tempfile
import time


def timed(args):
    with open(os.devnull, "wb") as null:
        start = time.perf_counter()
        subprocess.run(args, check=True, stdout=null)
        return time.perf_counter() - start


def ours(tool, threads, level, path, out):
    extra = ["--threads", str(threads)] if threads > 1 else []
    return [tool, "--second-thread"] + extra + [str(level), path, out]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--levels", default="1,6,9")
    parser.add_argument("--threads", type=int, default=2)
    parser.add_argument("--sweep", default="1,2,3,4")
    parser.add_argument("--sweep-level", type=int, default=6)
    parser.add_argument("--dbzip")
    parser.add_argument("--base")
    parser.add_argument("tool")
    parser.add_argument("files", nargs="+")
    opts = parser.parse_args()
    levels = [int(x) for x in opts.levels.split(",") if x]
    igzip = shutil.which("igzip")
    with tempfile.TemporaryDirectory() as tmp:
        one = os.path.join(tmp, "one.d")
        many = os.path.join(tmp, "many.d")
        print("| input | level | ours 1 MB/s | ours %d MB/s | gzip MB/s | pigz -p 2 MB/s | "
              "libdeflate MB/s | ours %d / gzip | ours %d / libdeflate | same |" %
              (opts.threads, opts.threads, opts.threads))
        print("|---|---:|---:|---:|---:|---:|---:|---:|---:|---|", flush=True)
        extras = []
        for path in opts.files:
            size = os.path.getsize(path)
            source = os.path.join(tmp, "src-" + os.path.basename(path))
            archives = os.path.join(tmp, "out-" + os.path.basename(path))
            if opts.dbzip:
                os.makedirs(source, exist_ok=True)
                os.makedirs(archives, exist_ok=True)
                copy = os.path.join(source, os.path.basename(path))
                if not os.path.exists(copy):
                    shutil.copyfile(path, copy)
            for level in levels:
                commands = {
                    "one": ours(opts.tool, 1, level, path, os.devnull),
                    "many": ours(opts.tool, opts.threads, level, path, os.devnull),
                    "gzip": ["gzip", "-%d" % level, "-n", "-c", path],
                    "pigz": ["pigz", "-p", "2", "-%d" % level, "-n", "-c", path],
                    "libdeflate": ["libdeflate-gzip", "-%d" % level, "-n", "-c", path],
                }
                if opts.dbzip:
                    commands["dbzip"] = [opts.dbzip, "-q", "--no-clone", "-%d" % level,
                                         source, archives]
                if opts.base:
                    commands["pinned"] = ["taskset", "-c", "0", opts.tool, str(level), path,
                                          os.devnull]
                    commands["base pinned"] = ["taskset", "-c", "0", opts.base, str(level),
                                               path, os.devnull]
                if igzip and level == 1:
                    commands["igzip -1"] = [igzip, "-1", "-c", path]
                    commands["igzip -3"] = [igzip, "-3", "-c", path]
                times = {name: [] for name in commands}
                for _ in range(opts.runs):
                    for name, args in commands.items():
                        times[name].append(timed(args))
                med = {name: statistics.median(t) for name, t in times.items()}
                for name in commands:
                    if name not in ("one", "many", "gzip", "pigz", "libdeflate"):
                        extras.append((os.path.basename(path), level, name, size / med[name] / 1e6,
                                       med["libdeflate"] / med[name]))
                subprocess.run(ours(opts.tool, 1, level, path, one), check=True,
                               stdout=subprocess.DEVNULL)
                subprocess.run(ours(opts.tool, opts.threads, level, path, many), check=True,
                               stdout=subprocess.DEVNULL)
                same = open(one, "rb").read() == open(many, "rb").read()
                mbs = {name: size / t / 1e6 for name, t in med.items()}
                print("| %s (%.0f MB) | %d | %.1f | %.1f | %.1f | %.1f | %.1f | %.2f | %.2f | %s |" % (
                    os.path.basename(path), size / 1e6, level, mbs["one"], mbs["many"],
                    mbs["gzip"], mbs["pigz"], mbs["libdeflate"], med["gzip"] / med["many"],
                    med["libdeflate"] / med["many"], "yes" if same else "NO"), flush=True)
        if extras:
            print("\n| input | level | command | MB/s | vs libdeflate-gzip |")
            print("|---|---:|---|---:|---:|")
            for row in extras:
                print("| %s | %d | %s | %.1f | %.2f |" % row)
        if opts.sweep:
            sweep(opts)


def cpu_parts(tool, threads, level, path):
    """Processor seconds of the calling thread and of all threads, one run."""
    args = [tool, "--cpu"] + ours(tool, threads, level, path, os.devnull)[1:]
    err = subprocess.run(args, check=True, stdout=subprocess.DEVNULL,
                         stderr=subprocess.PIPE, text=True).stderr
    words = err.split()
    return float(words[2]), float(words[6])


def sweep(opts):
    """Wall and processor time with 1, 2, ... parsing threads, and the parts
    of the processor time: the calling thread (reading, splicing, block ends),
    the coder thread (all threads less the calling one, with one parsing
    thread) and the parsing threads (the rest). The stages overlap, so on a
    machine of N cores with N parsing threads the wall time is about the
    largest of the calling thread's, the coder's, the parsing threads'
    divided by N and all of it divided by N: the last column. On this
    machine the column for 2 can be checked against the measured time."""
    path, level = opts.files[0], opts.sweep_level
    size = os.path.getsize(path)
    counts = [int(x) for x in opts.sweep.split(",")]
    if counts[0] != 1:
        raise SystemExit("--sweep must start at 1: the parts are told apart from one thread's run")
    print("\nthreads sweep, %s, level %d:" % (os.path.basename(path), level))
    print("| parsing threads | MB/s | vs 1 thread | cpu s | calling s | coder s | parsing s "
          "| est. s on as many cores |")
    print("|---:|---:|---:|---:|---:|---:|---:|---:|")
    base = None
    coder = None
    for n in counts:
        args = ours(opts.tool, n, level, path, os.devnull)
        walls, cpus, parts = [], [], []
        for _ in range(opts.runs):
            before = os.times()
            walls.append(timed(args))
            after = os.times()
            cpus.append(after.children_user + after.children_system -
                        before.children_user - before.children_system)
            parts.append(cpu_parts(opts.tool, n, level, path))
        wall = statistics.median(walls)
        base = base or wall
        calling = statistics.median(p[0] for p in parts)
        others = statistics.median(p[1] - p[0] for p in parts)
        if coder is None:
            # One parsing thread: the calling thread parses, the other codes.
            coder, parsing = others, calling
            calling_part = 0.0
        else:
            parsing = others - coder
            calling_part = calling
        estimate = max(calling_part, coder, parsing / n, (calling_part + coder + parsing) / n)
        print("| %d | %.1f | %.2f | %.2f | %.3f | %.3f | %.3f | %.3f |" % (
            n, size / wall / 1e6, base / wall, statistics.median(cpus), calling_part, coder,
            parsing, estimate), flush=True)

if __name__ == "__main__":
    main()
