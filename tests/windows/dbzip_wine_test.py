#!/usr/bin/env python3
"""dbzip.exe end to end under Wine, beside the Linux dbzip.

Usage: dbzip_wine_test.py WINE DBZIP_EXE [LINUX_DBZIP]

On one tree of databases (names in CP437 and beyond, tags, sub-folders, a
read-only and a hidden file, empty and incompressible contents) both programs
run at several levels in one time zone; every archive must be byte for byte
the same, and valid for python's zipfile; so must the archives whose names
Windows takes for devices (con.zip, lpt2.zip). Then the texts and exit codes of
dbzip.exe (help, usage, a missing folder, a database that is not a file) and
Ctrl-C (Wine turns SIGINT into the console's CTRL_C_EVENT): the archive being
written is removed, the previous archive kept, and the run ends with 130. Without LINUX_DBZIP the
comparison is skipped and the rest still runs.
"""
import os
import random
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import zipfile

from winecheck import check, verdict, win_path

WINE, EXE = sys.argv[1], sys.argv[2]
PEER = sys.argv[3] if len(sys.argv) > 3 and sys.argv[3] else None


def wine_env(prefix):
    env = dict(os.environ)
    env.update(WINEPREFIX=prefix, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=",
               TZ="Europe/Berlin")
    env.pop("DISPLAY", None)
    env.pop("WAYLAND_DISPLAY", None)
    return env


def run_exe(env, *args, **kw):
    return subprocess.run([WINE, EXE, *args], env=env, capture_output=True, timeout=600, **kw)


def make_tree(root):
    rng = random.Random(17)
    words = [bytes(rng.choice(b"abcdefghijklmnopqrstuvwxyz") for _ in range(rng.randint(2, 9)))
             for _ in range(400)]

    def text(n):
        out = bytearray()
        while len(out) < n:
            out += rng.choice(words) + (b"\r\n" if rng.random() < 0.1 else b" ")
        return bytes(out[:n])

    files = {
        "QRN_Sales_dat.mdf": text(300_000),
        "qrn_Office_DAT.MDF": text(70_000),
        "caf\u00e9 \u00c9t\u00e9.mdf": text(50_000),            # CP437 holds it
        "\u65e5\u672c\u8a9e.mdf": text(40_000),                   # UTF-8, bit 11
        "emoji \U0001F600.mdf": rng.randbytes(30_000),           # beyond the BMP
        "sub/Stock.mdf": b"",
        "sub/deeper/QRN_Mixed_dat.mdf": text(100_000) + rng.randbytes(20_000) + bytes(50_000),
        "sub/read-only.mdf": text(10_000),
        "sub/.hidden.mdf": text(5_000),
        "notes.txt": b"no database",
    }
    for name, data in files.items():
        path = os.path.join(root, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
    # Summer and winter times, so that the zone's daylight rule shows.
    for i, name in enumerate(sorted(files)):
        when = time.mktime((2024, 1 + (i * 5) % 12, 3 + i, 10, 11, 12 + i, 0, 0, -1))
        os.utime(os.path.join(root, name), (when, when))
    os.chmod(os.path.join(root, "sub/read-only.mdf"), 0o444)


def compare_with_peer(env, src, work):
    for level in ("1", "6", "9"):
        lin, win = os.path.join(work, "lin" + level), os.path.join(work, "win" + level)
        os.makedirs(lin)
        os.makedirs(win)
        peer = subprocess.run([PEER, "-r", "-q", "-l", level, src, lin], capture_output=True,
                              env=env, timeout=600)
        exe = run_exe(env, "-r", "-q", "-l", level, win_path(src), win_path(win))
        check(peer.returncode == 0 and exe.returncode == 0,
              f"level {level}: exit {peer.returncode} / {exe.returncode}: {exe.stderr!r}")
        names = sorted(os.listdir(lin))
        check(names == sorted(os.listdir(win)), f"level {level}: archives {names} / {os.listdir(win)}")
        check(len(names) == 9, f"level {level}: {len(names)} archives")
        for name in names:
            a = open(os.path.join(lin, name), "rb").read()
            b = open(os.path.join(win, name), "rb").read() if os.path.exists(os.path.join(win, name)) else b""
            check(a == b, f"level {level}: {name} differs ({len(a)} / {len(b)} bytes)")
            with zipfile.ZipFile(os.path.join(win, name)) as z:
                check(z.testzip() is None, f"level {level}: {name} fails zipfile's test")


def device_names(env, work):
    """Archive and database names that Windows takes for devices outside the
    full path form are files: archived, replaced, read back, and byte for
    byte the Linux archives. CON.mdf would share
    con.zip with QRN_CON_dat.mdf, so the plain names have a folder of their own."""
    folders = {
        "tagged": ["QRN_CON_dat.mdf", "QRN_nul_dat.mdf", "QRN_Aux_dat.mdf", "QRN_com1_dat.mdf",
                   "QRN_PRN_dat.mdf", "QRN_lpt2_dat.mdf"],
        "plain": ["CON.mdf", "LPT1.mdf"],
    }
    for folder, names in folders.items():
        src, win = os.path.join(work, "dev-" + folder), os.path.join(work, "dev-win-" + folder)
        os.makedirs(src)
        os.makedirs(win)
        for i, name in enumerate(names):
            with open(os.path.join(src, name), "wb") as f:
                f.write(name.encode() * (200 + i))
        archive_of = {n: n.replace("QRN_", "").replace("_dat", "").lower()[:-4] + ".zip"
                      for n in names}
        archives = sorted(archive_of.values())
        # The second run meets the archives of the first: it reads them,
        # replaces them and reads the new ones back.
        for args in ([], ["--verify"]):
            r = run_exe(env, "-q", *args, win_path(src), win_path(win))
            check(r.returncode == 0 and not r.stderr,
                  f"device names {folder} {args}: exit {r.returncode}: {r.stderr!r}")
        left = sorted(os.listdir(win))
        check(left == archives, f"device names {folder}: {left}")
        for name, archive in archive_of.items():
            path = os.path.join(win, archive)
            if not os.path.exists(path):
                continue
            with zipfile.ZipFile(path) as z:
                check(z.namelist() == [name] and z.read(name) == open(os.path.join(src, name), "rb").read(),
                      f"device names: {archive} holds {z.namelist()}")
        if PEER:
            lin = os.path.join(work, "dev-lin-" + folder)
            os.makedirs(lin)
            subprocess.run([PEER, "-q", src, lin], env=env, timeout=600, check=True)
            for archive in archives:
                a = open(os.path.join(lin, archive), "rb").read()
                b = open(os.path.join(win, archive), "rb").read() if archive in left else b""
                check(a == b, f"device names: {archive} differs from the Linux archive")


def texts_and_codes(env, src, work):
    out = os.path.join(work, "out")
    os.makedirs(out)
    r = run_exe(env, "--help")
    check(r.returncode == 0 and b"Examples: dbzip -r -l 6 C:\\Data\\Databases D:\\Backup" in r.stdout,
          f"help: {r.stdout!r}")
    # As Windows programs do, "/?" shows the help.
    r2 = run_exe(env, "/?")
    check(r2.returncode == 0 and r2.stdout == r.stdout, f"/?: {r2.returncode} {r2.stdout!r}")
    # Text written to a console program's output ends its lines in CR LF.
    r = run_exe(env, "--version")
    check(r.stdout == b"dbzip (Tamblewick Remote Database Zipper) 2.0.0\r\n", f"version: {r.stdout!r}")
    r = run_exe(env, win_path(src))
    check(r.returncode == 2 and r.stderr.startswith(b"dbzip: missing SOURCE_DIR or OUTPUT_DIR"),
          f"usage: {r.returncode} {r.stderr!r}")
    # A missing folder is named with the system's reason; a file is not a folder.
    r = run_exe(env, "C:\\no such folder", win_path(out))
    check(r.returncode == 2 and r.stderr.startswith(b"dbzip: C:\\no such folder: ")
          and len(r.stderr.strip()) > len(b"dbzip: C:\\no such folder: "),
          f"missing folder: {r.returncode} {r.stderr!r}")
    some_file = os.path.join(work, "a file")
    open(some_file, "w").close()
    r = run_exe(env, win_path(some_file), win_path(out))
    check(r.returncode == 2 and r.stderr.rstrip() == ("dbzip: " + win_path(some_file) + ": not a directory").encode(),
          f"file as folder: {r.returncode} {r.stderr!r}")
    r = run_exe(env, "--mask=*.mdf,[abc", win_path(src), win_path(out))
    check(r.returncode == 2 and r.stderr.rstrip() ==
          b"dbzip: invalid mask '*.mdf,[abc' at character 7: a set '[' without its closing ']'",
          f"invalid mask: {r.returncode} {r.stderr!r}")
    # A dry run, with long options shortened: the archives it would write, none written.
    r = run_exe(env, "--rec", "--dry", win_path(src), win_path(out))
    check(r.returncode == 0 and (" -> " + win_path(out) + "\\sales.zip").encode() in r.stdout
          and not os.listdir(out), f"dry run: {r.returncode} {r.stdout[:300]!r} {r.stderr!r}")
    # A folder that matches the mask is found but cannot be read: named, status 1.
    os.makedirs(os.path.join(src, "old.mdf"))
    r = run_exe(env, win_path(src), win_path(out))
    shutil.rmtree(os.path.join(src, "old.mdf"))
    check(r.returncode == 1, f"unreadable database: exit {r.returncode}")
    check((win_path(src) + "\\old.mdf: not a regular file").encode() in r.stderr,
          f"unreadable database: {r.stderr!r}")
    # The plain progress lines carry Windows paths, in UTF-8.
    check(("Zipping " + win_path(src) + "\\\u65e5\u672c\u8a9e.mdf...").encode() in r.stdout,
          f"progress lines: {r.stdout[:300]!r}")
    check(os.path.exists(os.path.join(out, "sales.zip")), "archives written beside the failure")


def interrupt(env, work):
    src, out = os.path.join(work, "big"), os.path.join(work, "bigout")
    os.makedirs(src)
    os.makedirs(out)
    rng = random.Random(5)
    with open(os.path.join(src, "huge.mdf"), "wb") as f:
        for _ in range(60):
            f.write(rng.randbytes(1_000_000) + bytes(1_000_000))
    older = b"PK\x03\x04 last week's archive"
    with open(os.path.join(out, "huge.zip"), "wb") as f:
        f.write(older)
    p = subprocess.Popen([WINE, EXE, "-l", "9", win_path(src), win_path(out)], env=env,
                         stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    line = p.stdout.readline()  # "Zipping ..." once the archive is being written
    check(line.startswith(b"Zipping "), f"interrupt: first line {line!r}")
    time.sleep(0.5)
    p.send_signal(signal.SIGINT)
    rest, err = p.communicate(timeout=120)
    check(p.returncode == 130, f"interrupt: exit {p.returncode}, {err!r}")
    check(b"dbzip: interrupted" in err, f"interrupt: {err!r}")
    left = os.listdir(out)
    check(left == ["huge.zip"], f"interrupt left {left}")
    with open(os.path.join(out, "huge.zip"), "rb") as f:
        check(f.read() == older, "interrupt: the previous archive was not kept")


def main():
    with tempfile.TemporaryDirectory(prefix="tw-wine-") as work:
        prefix = os.environ.get("WINEPREFIX") or os.path.join(work, "prefix")
        env = wine_env(prefix)
        src = os.path.join(work, "src")
        make_tree(src)
        if PEER:
            compare_with_peer(env, src, work)
        else:
            print("no Linux dbzip given: the byte comparison is skipped")
        device_names(env, work)
        texts_and_codes(env, src, work)
        interrupt(env, work)
        os.chmod(os.path.join(src, "sub/read-only.mdf"), 0o644)
    return verdict()


if __name__ == "__main__":
    sys.exit(main())
