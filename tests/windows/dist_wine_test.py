#!/usr/bin/env python3
"""The Windows distribution, checked as a user would receive it.

Usage: dist_wine_test.py WINE DIST_DIR BIN_DIR

The archive must be sound for python's zipfile and unzip and hold exactly the
two programs, byte for byte as built, and the read-me with Windows line ends.
The installer (when nsis made one) must install silently for the current
user under Wine, with its Start-menu entry and uninstaller, and the
uninstaller must take away what it installed and nothing else.
"""
import os
import subprocess
import sys
import zipfile

from winecheck import check, verdict

WINE, DIST, BIN = sys.argv[1], sys.argv[2], sys.argv[3]


def main():
    archive = os.path.join(DIST, "tamblewick-zipper-2.0.0-win64.zip")
    with zipfile.ZipFile(archive) as z:
        check(z.testzip() is None, "zipfile finds the archive sound")
        check(sorted(z.namelist()) == ["README.txt", "dbzip.exe", "tamblewick-zipper.exe"],
              "the archive's names: %s" % z.namelist())
        for name in ("dbzip.exe", "tamblewick-zipper.exe"):
            with open(os.path.join(BIN, name), "rb") as built:
                check(z.read(name) == built.read(), name + " as built")
        readme = z.read("README.txt")
        check(b"\r\n" in readme and b"\n" not in readme.replace(b"\r\n", b""),
              "the read-me has Windows line ends")
    check(subprocess.run(["unzip", "-tqq", archive]).returncode == 0, "unzip -t passes")

    setup = os.path.join(DIST, "tamblewick-zipper-2.0.0-setup.exe")
    if not os.path.exists(setup):
        print("No installer (nsis missing): its checks are skipped.")
    else:
        env = dict(os.environ, WINEDEBUG="-all", DISPLAY="")
        drive_c = os.path.join(env["WINEPREFIX"], "drive_c")
        run = subprocess.run([WINE, setup, "/S", "/CurrentUser"], env=env,
                             capture_output=True, timeout=300)
        check(run.returncode == 0, "the installer runs (exit %d)" % run.returncode)
        # A per-user install goes to the user's own programs folder.
        users = os.path.join(drive_c, "users")
        homes = [u for u in os.listdir(users)
                 if os.path.isdir(os.path.join(users, u, "AppData", "Local", "Programs",
                                               "Tamblewick Zipper"))]
        check(len(homes) == 1, "installed for one user: %s" % homes)
        user = homes[0] if homes else "nobody"
        installed = os.path.join(users, user, "AppData", "Local", "Programs", "Tamblewick Zipper")
        target = "C:\\users\\%s\\AppData\\Local\\Programs\\Tamblewick Zipper" % user
        names = sorted(os.listdir(installed)) if os.path.isdir(installed) else []
        check(names == ["README.txt", "dbzip.exe", "tamblewick-zipper.exe", "uninstall.exe"],
              "installed: %s" % names)
        links = [os.path.join(root, f) for root, _, files in os.walk(drive_c) for f in files
                 if f == "Tamblewick Remote Database Zipper.lnk"]
        check(len(links) == 1, "one Start-menu entry: %s" % links)
        # A file of the user's in the folder stays, and so does the folder.
        mine = os.path.join(installed, "mine.zip")
        if os.path.isdir(installed):
            with open(mine, "wb") as f:
                f.write(b"PK\x05\x06" + b"\0" * 18)
        run = subprocess.run([WINE, os.path.join(installed, "uninstall.exe"), "/S",
                              "/CurrentUser", "_?=" + target], env=env, capture_output=True,
                             timeout=300)
        check(run.returncode == 0, "the uninstaller runs (exit %d)" % run.returncode)
        left = sorted(os.listdir(installed)) if os.path.isdir(installed) else []
        check(left == ["mine.zip", "uninstall.exe"] or left == ["mine.zip"],
              "only the user's file is left (and the uninstaller run in place): %s" % left)
        links = [f for _, _, files in os.walk(drive_c) for f in files
                 if f == "Tamblewick Remote Database Zipper.lnk"]
        check(not links, "the Start-menu entry is gone")
        for name in ("mine.zip", "uninstall.exe"):
            if os.path.exists(os.path.join(installed, name)):
                os.remove(os.path.join(installed, name))
        if os.path.isdir(installed):
            os.rmdir(installed)
    return verdict()


if __name__ == "__main__":
    sys.exit(main())
