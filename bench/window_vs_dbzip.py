#!/usr/bin/env python3
"""Times the window's whole run (offscreen) against dbzip with one job over the
same folder, alternating them, and prints the medians and their ratio.

usage: window_vs_dbzip.py BUILD_DIR DATA_DIR [LEVEL] [ROUNDS]
"""
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time


def main():
    build, data = sys.argv[1], sys.argv[2]
    level = sys.argv[3] if len(sys.argv) > 3 else "6"
    rounds = int(sys.argv[4]) if len(sys.argv) > 4 else 3
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
    out = tempfile.mkdtemp(prefix="tw-window-bench-")
    window, dbzip = [], []
    for _ in range(rounds):
        for times, cmd in ((window, [os.path.join(build, "bin", "window_run"), data, out, level]),
                           (dbzip, [os.path.join(build, "bin", "dbzip"), "-q", "-l", level, data, out])):
            shutil.rmtree(out)
            os.makedirs(out)
            start = time.perf_counter()
            subprocess.run(cmd, check=False, env=env, stdout=subprocess.DEVNULL)
            times.append(time.perf_counter() - start)
    shutil.rmtree(out, ignore_errors=True)
    w, d = statistics.median(window), statistics.median(dbzip)
    print(f"window run {w:.2f} s, dbzip {d:.2f} s (level {level}, median of {rounds}): "
          f"window/dbzip = {w / d:.3f}")


if __name__ == "__main__":
    main()
