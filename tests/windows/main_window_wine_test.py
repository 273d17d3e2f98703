#!/usr/bin/env python3
"""The native window program's tests under Wine, on an X display of their own.

Usage: main_window_wine_test.py WINE MAIN_WINDOW_TEST_EXE BUILD_DIR [LINUX_DBZIP]

Starts Xvfb, runs the in-process window tests (their layout checks once more
on a screen of 144 dpi), and keeps the tree and the archives of their whole run: every archive must be valid for python's zipfile
and for unzip, hold its database's bytes, and equal byte for byte what the
Linux dbzip writes for the same tree and choices (skipped without
LINUX_DBZIP). The tests leave pictures of both windows in BUILD_DIR, at 96
and at 144 dpi.
"""
import os
import shutil
import subprocess
import sys
import tempfile
import zipfile

from winecheck import check, verdict, win_path

WINE, EXE, BUILD = sys.argv[1], sys.argv[2], sys.argv[3]
PEER = sys.argv[4] if len(sys.argv) > 4 and sys.argv[4] else None


def start_xvfb():
    """An X server on a free display; returns (process, display)."""
    read, write = os.pipe()
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write), "-screen", "0", "1024x768x24",
                             "-nolisten", "tcp"], pass_fds=(write,), stderr=subprocess.DEVNULL)
    os.close(write)
    number = b""
    while not number.endswith(b"\n"):
        chunk = os.read(read, 16)
        if not chunk:
            break
        number += chunk
    os.close(read)
    return xvfb, ":" + number.decode().strip()


def install_fonts(env):
    """Puts the design's faces (Debian's fonts-wine) into the prefix's Fonts
    folder, where Windows keeps them: Wine started without its wrapper
    script does not look in its own font folder, and would draw every text
    in a stand-in face."""
    fonts = os.path.join(env["WINEPREFIX"], "drive_c", "windows", "Fonts")
    if not os.path.isdir(fonts):  # a fresh prefix: Wine makes it on its first start
        subprocess.run([WINE, "cmd", "/c", "exit"], env=env, capture_output=True, timeout=300)
    os.makedirs(fonts, exist_ok=True)
    source = "/usr/share/wine/fonts"
    for name in sorted(os.listdir(source)) if os.path.isdir(source) else []:
        if name.startswith("sserif") or name.startswith("tahoma"):
            target = os.path.join(fonts, name)
            if not os.path.exists(target):
                shutil.copyfile(os.path.join(source, name), target)


def main():
    work = tempfile.mkdtemp(prefix="tw-winui-")
    xvfb, display = start_xvfb()
    try:
        env = dict(os.environ)
        env.update(DISPLAY=display, TZ="Europe/Berlin", TW_WINUI_KEEP=win_path(work),
                   TW_WINUI_SHOTS=win_path(BUILD))
        env.setdefault("WINEDEBUG", "-all")
        # A prefix of its own: Wine's desktop process serves every program of a
        # prefix on the display of the first one, and the other tests run
        # without any.
        env["WINEPREFIX"] = os.path.join(BUILD, "wine-prefix-ui")
        install_fonts(env)
        run = subprocess.run([WINE, EXE, "--gtest_brief=1"], env=env, timeout=500)
        check(run.returncode == 0, "the window tests pass (exit %d)" % run.returncode)

        # The layout, the labels and the folder picture again on a screen
        # scaled by 1.5.
        scaled_shots = os.path.join(work, "scaled")
        os.mkdir(scaled_shots)
        desktop = "HKCU\\Control Panel\\Desktop"
        subprocess.run([WINE, "reg", "add", desktop, "/v", "LogPixels", "/t", "REG_DWORD",
                        "/d", "144", "/f"], env=env, capture_output=True)
        try:
            scaled = subprocess.run(
                [WINE, EXE, "--gtest_brief=1",
                 "--gtest_filter=MainWindow.StartsInTheDesignedState:PathLabel.*:"
                 "ProgressWindow.*:MainWindow.BrowseButtonsDrawTheFolderPicture"],
                env=dict(env, TW_WINUI_SHOTS=win_path(scaled_shots), TW_WINUI_DPI="144"),
                timeout=300)
            check(scaled.returncode == 0, "the layout at 144 dpi (exit %d)" % scaled.returncode)
            for shot in os.listdir(scaled_shots):
                shutil.copyfile(os.path.join(scaled_shots, shot),
                                os.path.join(BUILD, shot.replace(".png", "-144dpi.png")))
        finally:
            subprocess.run([WINE, "reg", "delete", desktop, "/v", "LogPixels", "/f"], env=env,
                           capture_output=True)

        out = os.path.join(work, "out")
        names = sorted(os.listdir(out)) if os.path.isdir(out) else []
        check(names == ["empty.zip", "office.zip", "sales.zip", "stock.zip"],
              "the whole run's archives: %s" % names)
        sources = {}
        for root, _, files in os.walk(os.path.join(work, "src")):
            for name in files:
                sources[name] = os.path.join(root, name)
        for name in names:
            path = os.path.join(out, name)
            with zipfile.ZipFile(path) as archive:
                check(archive.testzip() is None, name + ": zipfile finds it sound")
                entries = archive.namelist()
                check(len(entries) == 1 and entries[0] in sources,
                      name + ": holds one database by its bare name: %s" % entries)
                if len(entries) == 1 and entries[0] in sources:
                    with open(sources[entries[0]], "rb") as source:
                        check(archive.read(entries[0]) == source.read(),
                              name + ": holds the database's bytes")
            if shutil.which("unzip"):
                test = subprocess.run(["unzip", "-tqq", path], capture_output=True)
                check(test.returncode == 0, name + ": unzip -t passes")

        if PEER:
            peer_out = os.path.join(work, "peer")
            os.mkdir(peer_out)
            peer = subprocess.run([PEER, "--quiet", "--recursive", "--level", "6",
                                   os.path.join(work, "src"), peer_out],
                                  env=dict(os.environ, TZ="Europe/Berlin"))
            check(peer.returncode == 0, "the Linux dbzip runs (exit %d)" % peer.returncode)
            check(sorted(os.listdir(peer_out)) == names, "dbzip writes the same archives")
            for name in names:
                a = os.path.join(out, name)
                b = os.path.join(peer_out, name)
                if os.path.exists(b):
                    with open(a, "rb") as fa, open(b, "rb") as fb:
                        check(fa.read() == fb.read(), name + ": byte for byte dbzip's")
        else:
            print("No Linux dbzip given: the comparison with it is skipped.")

        for shot in ("main-window-windows.png", "progress-window-windows.png"):
            check(os.path.getsize(os.path.join(BUILD, shot)) > 1000
                  if os.path.exists(os.path.join(BUILD, shot)) else False, shot + " is drawn")
    finally:
        # The prefix is this test's alone: its server goes with the display.
        wineserver = os.path.join(os.path.dirname(WINE), "wineserver")
        if os.path.exists(wineserver):
            subprocess.run([wineserver, "-k"], env=dict(os.environ, WINEPREFIX=os.path.join(
                BUILD, "wine-prefix-ui")), capture_output=True)
        xvfb.terminate()
        xvfb.wait()
        shutil.rmtree(work, ignore_errors=True)
    return verdict()


if __name__ == "__main__":
    sys.exit(main())
