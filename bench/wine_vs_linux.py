#!/usr/bin/env python3
"""dbzip.exe under Wine against the Linux dbzip on the same database, side by
side in one run: one SQLite database of 75 MiB (78.6 MB, as make_databases.py
makes them), level 6, each program timed in alternate rounds; the medians and
their ratio. Also checks that both wrote the same archive.

usage: wine_vs_linux.py LINUX_DBZIP DBZIP_EXE [ROUNDS] [DATA_DIR]
"""
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from make_databases import make_db  # noqa: E402

WINE = shutil.which("wine64") or "/usr/lib/wine/wine64"
WINESERVER = shutil.which("wineserver") or "/usr/lib/wine/wineserver"


def main():
    linux, exe = sys.argv[1], sys.argv[2]
    rounds = int(sys.argv[3]) if len(sys.argv) > 3 else 5
    data = sys.argv[4] if len(sys.argv) > 4 else "/tmp/tw-wine-bench"
    src = os.path.join(data, "src")
    os.makedirs(src, exist_ok=True)
    db = os.path.join(src, "QRN_Branch3_dat.mdf")
    if not os.path.exists(db):
        print("making the 75 MiB database...", file=sys.stderr)
        make_db(db, 75 << 20, seed=75)
    env = dict(os.environ, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=",
               WINEPREFIX=os.path.join(data, "wine-prefix"))
    env.pop("DISPLAY", None)
    # Wine's server stays up for the whole run, as it does on a used desktop:
    # its start is not what is measured.
    subprocess.run([WINE, exe, "--version"], env=env, capture_output=True, check=True)
    subprocess.run([WINESERVER, "-p"], env=env, check=True)

    def win(path):
        return "Z:" + os.path.abspath(path).replace("/", "\\")

    times = {"linux dbzip": [], "dbzip.exe (Wine)": []}
    with tempfile.TemporaryDirectory(prefix="tw-wine-bench-") as work:
        outs = {name: os.path.join(work, str(i)) for i, name in enumerate(times)}
        commands = {
            "linux dbzip": [linux, "-q", "-l", "6", src, outs["linux dbzip"]],
            "dbzip.exe (Wine)": [WINE, exe, "-q", "-l", "6", win(src), win(outs["dbzip.exe (Wine)"])],
        }
        for _ in range(rounds):
            for name, command in commands.items():
                shutil.rmtree(outs[name], ignore_errors=True)
                os.makedirs(outs[name])
                start = time.perf_counter()
                subprocess.run(command, env=env, check=True)
                times[name].append(time.perf_counter() - start)
        archives = [open(os.path.join(o, "branch3.zip"), "rb").read() for o in outs.values()]
        same = archives[0] == archives[1]
    subprocess.run([WINESERVER, "-k"], env=env)

    size = os.path.getsize(db) / 1e6
    print(f"{size:.1f} MB database, level 6, median of {rounds} rounds\n")
    print(f"| {'program':18} | {'seconds':>7} | {'MB/s':>6} |")
    print(f"|{'-' * 20}|{'-' * 9}|{'-' * 8}|")
    medians = {}
    for name, values in times.items():
        medians[name] = statistics.median(values)
        print(f"| {name:18} | {medians[name]:7.2f} | {size / medians[name]:6.1f} |")
    ratio = medians["dbzip.exe (Wine)"] / medians["linux dbzip"]
    print(f"\ndbzip.exe / dbzip: {ratio:.3f} ({'within' if ratio <= 1.15 else 'beyond'} 15 %); "
          f"archives {'identical' if same else 'DIFFERENT'}")
    return 0 if same else 1


if __name__ == "__main__":
    sys.exit(main())
