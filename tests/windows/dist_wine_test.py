#!/usr/bin/env python3
"""The Windows distribution, checked as a user would receive it.

Usage: dist_wine_test.py WINE DIST_DIR BIN_DIR

The archive must be sound for python's zipfile and unzip and hold exactly the
two programs, byte for byte as built, and the read-me with Windows line ends;
dbzip.exe must carry its version and its manifest (UTF-8 code page, long
paths). The installer (when nsis made one) must carry the product's icon and
version, install silently for the current user unless told otherwise, put its
folder on that user's or the machine's PATH when asked, keep what was there
and leave a PATH too long to read whole untouched, write a quiet uninstall
string and the installed size; its quiet uninstall must take away what it
installed and put back PATH, and nothing else.
"""
import os
import re
import struct
import subprocess
import sys
import time
import zipfile

from winecheck import check, verdict

WINE, DIST, BIN = sys.argv[1], sys.argv[2], sys.argv[3]
ENV = dict(os.environ, WINEDEBUG="-all", DISPLAY="")
UNINSTALL_KEY = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\TamblewickZipper"
MACHINE_ENV = "HKLM\\SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment"


def resources(exe):
    """{resource type: [data, ...]} from a PE file's resource section."""
    data = open(exe, "rb").read()
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    sections, optional_size = struct.unpack_from("<H12xH", data, pe + 6)
    optional = pe + 24
    root_rva = struct.unpack_from("<I", data, optional + 112 + 2 * 8)[0]
    table = [struct.unpack_from("<8xIIII", data, optional + optional_size + 40 * i)
             for i in range(sections)]

    def offset(rva):
        for size, address, raw_size, raw in table:
            if address <= rva < address + max(size, raw_size):
                return raw + rva - address
        raise ValueError("RVA %#x outside every section" % rva)

    root = offset(root_rva)

    def entries(directory):
        named, ids = struct.unpack_from("<12xHH", data, root + directory)
        for i in range(named + ids):
            yield struct.unpack_from("<II", data, root + directory + 16 + 8 * i)

    def leaves(target):
        if target & 0x80000000:
            for _, below in entries(target & 0x7FFFFFFF):
                yield from leaves(below)
        else:
            rva, size = struct.unpack_from("<II", data, root + target)
            yield data[offset(rva):offset(rva) + size]

    found = {}
    for kind, target in entries(0):
        found[kind] = list(leaves(target))
    return found


def reg_values(key):
    """{name: (type, value)} of a registry key as Wine's reg reads it."""
    run = subprocess.run([WINE, "reg", "query", key], env=ENV, capture_output=True, timeout=120)
    values = {}
    for line in run.stdout.decode("utf-8", "replace").splitlines():
        m = re.match(r"^\s+(\S+)\s+(REG_\w+)\s+(.*?)\s*$", line)
        if m:
            values[m.group(1)] = (m.group(2), m.group(3))
    return values


def path_of(key):
    """PATH in a key; value names compare without regard to case."""
    values = {name.lower(): value for name, value in reg_values(key).items()}
    return values.get("path", ("", ""))[1]


def check_version(exe, description):
    found = resources(exe)
    version = found.get(16, [b""])[0]
    fixed = version.find(struct.pack("<I", 0xFEEF04BD))
    check(fixed >= 0, description + " has a version resource")
    if fixed >= 0:
        ms, ls = struct.unpack_from("<II", version, fixed + 8)
        check((ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF) == (2, 0, 0, 0),
              description + " is version 2.0.0.0")
    text = version.decode("utf-16-le", "replace")
    check(re.search("ProductName\0+Tamblewick Remote Database Zipper\0", text) is not None,
          description + " names the product")
    check(re.search("FileVersion\0+2\\.0\\.0\0", text) is not None,
          description + " gives its file version")
    return found


def install_and_remove(setup, args, hive, env_key, installed, target, path_grows=True):
    """Installs with args, checks the result, removes it by the quiet
    uninstall string, and checks that everything but a file of the user's
    is gone and PATH is as it was. A PATH too long for the installer to read
    whole must not change at all (path_grows False)."""
    path_before = path_of(env_key)
    run = subprocess.run([WINE, setup] + args, env=ENV, capture_output=True, timeout=300)
    check(run.returncode == 0, "%s: the installer runs (exit %d)" % (args, run.returncode))
    names = sorted(os.listdir(installed)) if os.path.isdir(installed) else []
    check(names == ["README.txt", "dbzip.exe", "tamblewick-zipper.exe", "uninstall.exe"],
          "%s: installed: %s" % (args, names))
    drive_c = os.path.join(ENV["WINEPREFIX"], "drive_c")
    links = [os.path.join(root, f) for root, _, files in os.walk(drive_c) for f in files
             if f == "Tamblewick Remote Database Zipper.lnk"]
    check(len(links) == 1, "%s: one Start-menu entry: %s" % (args, links))

    entry = reg_values(hive + "\\" + UNINSTALL_KEY)
    check(entry.get("DisplayName", ("", ""))[1] == "Tamblewick Remote Database Zipper",
          "%s: the uninstall entry: %s" % (args, entry))
    size = entry.get("EstimatedSize", ("", "0x0"))
    check(size[0] == "REG_DWORD" and 1000 < int(size[1], 16) < 1000000,
          "%s: the installed size in KiB: %s" % (args, size))
    quiet = entry.get("QuietUninstallString", ("", ""))[1]
    expected = '"%s\\uninstall.exe" /%s /S' % (
        target, "AllUsers" if hive == "HKLM" else "CurrentUser")
    check(quiet == expected, "%s: the quiet uninstall string: %r" % (args, quiet))
    path_after = path_of(env_key)
    grown = (path_before + ";" if path_before else "") + target
    check(path_after == (grown if path_grows else path_before),
          "%s: PATH %s: %r" % (args, "gains the folder" if path_grows else "unchanged", path_after))

    # A file of the user's in the folder stays, and so does the folder.
    mine = os.path.join(installed, "mine.zip")
    if os.path.isdir(installed):
        with open(mine, "wb") as f:
            f.write(b"PK\x05\x06" + b"\0" * 18)
    m = re.match(r'^"([^"]+)"\s*(.*)$', quiet)
    if m:
        # The uninstaller runs from a copy of itself and returns at once.
        subprocess.run([WINE, m.group(1)] + m.group(2).split(), env=ENV, capture_output=True,
                       timeout=300)
        deadline = time.time() + 120
        while time.time() < deadline and reg_values(hive + "\\" + UNINSTALL_KEY):
            time.sleep(1)
    left = sorted(os.listdir(installed)) if os.path.isdir(installed) else []
    check(left == ["mine.zip"], "%s: only the user's file is left: %s" % (args, left))
    check(not reg_values(hive + "\\" + UNINSTALL_KEY), "%s: the uninstall entry is gone" % args)
    links = [f for _, _, files in os.walk(drive_c) for f in files
             if f == "Tamblewick Remote Database Zipper.lnk"]
    check(not links, "%s: the Start-menu entry is gone" % args)
    check(path_of(env_key) == path_before,
          "%s: PATH is as it was: %r" % (args, path_of(env_key)))
    if os.path.exists(mine):
        os.remove(mine)
    if os.path.isdir(installed):
        os.rmdir(installed)


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

    for name in ("dbzip.exe", "tamblewick-zipper.exe"):
        check_version(os.path.join(BIN, name), name)
    manifest = resources(os.path.join(BIN, "dbzip.exe")).get(24, [b""])[0].decode("utf-8")
    check(re.search(r"<activeCodePage[^>]*>UTF-8</activeCodePage>", manifest) is not None,
          "dbzip.exe runs with UTF-8 as its code page")
    check(re.search(r"<longPathAware[^>]*>true</longPathAware>", manifest) is not None,
          "dbzip.exe is long-path aware")

    setup = os.path.join(DIST, "tamblewick-zipper-2.0.0-setup.exe")
    if not os.path.exists(setup):
        print("No installer (nsis missing): its checks are skipped.")
        return verdict()
    # The product's icon, not the installer framework's.
    icons = check_version(setup, "the installer").get(3, [])
    product = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "app",
                           "resources", "tamblewick.ico")
    ico = open(product, "rb").read()
    images = [ico[at:at + size] for size, at in
              (struct.unpack_from("<8xII", ico, 6 + 16 * i)
               for i in range(struct.unpack_from("<H", ico, 4)[0]))]
    check(images and all(image in icons for image in images),
          "the installer shows the product's icon")
    drive_c = os.path.join(ENV["WINEPREFIX"], "drive_c")

    def set_user_path(value):
        subprocess.run([WINE, "reg", "add", "HKCU\\Environment", "/v", "Path", "/t",
                        "REG_EXPAND_SZ", "/d", value, "/f"], env=ENV, capture_output=True,
                       timeout=120)

    # The user's PATH holds a folder of theirs, which must stay.
    set_user_path("C:\\Tools")
    users = os.path.join(drive_c, "users")
    user = next((u for u in os.listdir(users)
                 if os.path.isdir(os.path.join(users, u, "AppData", "Local"))), "nobody")
    per_user = (os.path.join(users, user, "AppData", "Local", "Programs", "Tamblewick Zipper"),
                "C:\\users\\%s\\AppData\\Local\\Programs\\Tamblewick Zipper" % user)
    # Without a mode (Wine's user is an administrator), the current user's.
    install_and_remove(setup, ["/S", "/AddToPath"], "HKCU", "HKCU\\Environment", *per_user)
    # A PATH longer than the installer's strings: cutting it would lose folders.
    set_user_path("C:\\Tools;" + ";".join("C:\\Folder%03d" % i for i in range(100)))
    install_and_remove(setup, ["/S", "/CurrentUser", "/AddToPath"], "HKCU",
                       "HKCU\\Environment", *per_user, path_grows=False)
    install_and_remove(
        setup, ["/S", "/AllUsers", "/AddToPath"], "HKLM", MACHINE_ENV,
        os.path.join(drive_c, "Program Files", "Tamblewick Zipper"),
        "C:\\Program Files\\Tamblewick Zipper")
    return verdict()


if __name__ == "__main__":
    sys.exit(main())
