#!/usr/bin/env python3
"""Builds the benchmark tree for the folder search: ENTRIES entries in FOLDERS
folders nested a few levels deep, about PERCENT % of the names matching
*.mdf (in both cases). Deterministic for a given seed."""
import os
import random
import sys


def build(root, entries=100_000, folders=300, percent=3.0, seed=1):
    rng = random.Random(seed)
    os.makedirs(root, exist_ok=False)
    dirs = [root]
    for i in range(folders):
        parent = rng.choice(dirs[-40:] if rng.random() < 0.6 else dirs)
        path = os.path.join(parent, f"folder{i:04d}")
        os.mkdir(path)
        dirs.append(path)
    extensions = ["txt", "log", "ldf", "bak", "dat", "ndf", "gdb", "mdfx", "cfg"]
    for i in range(entries - folders):
        folder = rng.choice(dirs)
        if rng.random() < percent / 100:
            ext = rng.choice(["mdf", "MDF", "Mdf"])
        else:
            ext = rng.choice(extensions)
        name = f"entry{i:06d}_{rng.randrange(1 << 20):05x}.{ext}"
        with open(os.path.join(folder, name), "wb") as f:
            if rng.random() < 0.1:
                f.write(b"x" * rng.randrange(1, 4096))


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit("usage: make_search_tree.py DIR")
    build(sys.argv[1])
