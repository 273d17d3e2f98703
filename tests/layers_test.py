#!/usr/bin/env python3
"""Fails on any include that the layer table of docs/ARCHITECTURE.md does not allow.

The table is the fenced block marked `layers` there: each line names a layer,
the files it holds (globs from the repository's root; `!` leaves files out)
and the layers whose headers it may include. A header is known by its file
name, which is unique in the tree. The core's layers (marked `core`) may
include no Qt header at all.
"""
import fnmatch
import os
import re
import sys


def read_table(root):
    text = open(os.path.join(root, "docs", "ARCHITECTURE.md"), encoding="utf-8").read()
    block = re.search(r"```layers\n(.*?)```", text, re.S)
    if not block:
        sys.exit("docs/ARCHITECTURE.md has no ```layers block")
    layers = []
    for line in block.group(1).splitlines():
        line = line.split("#", 1)[0].strip()
        if not line:
            continue
        name, files, allowed = (part.strip() for part in line.split("|"))
        core = name.endswith("*")
        layers.append((name.rstrip("*"), files.split(), set(allowed.split()) - {"-"}, core))
    return layers


def layer_of(path, layers):
    for name, globs, _, _ in layers:
        taken = [g for g in globs if not g.startswith("!")]
        left = [g[1:] for g in globs if g.startswith("!")]
        if any(fnmatch.fnmatch(path, g) for g in taken) and not any(
            fnmatch.fnmatch(path, g) for g in left
        ):
            return name
    return None


def main(root):
    layers = read_table(root)
    rules = {name: (allowed, core) for name, _, allowed, core in layers}
    sources = []
    for folder in {g.split("/")[0] for _, globs, _, _ in layers for g in globs}:
        folder = folder.lstrip("!")
        for dirpath, _, names in os.walk(os.path.join(root, folder)):
            for n in names:
                if n.endswith((".h", ".cpp")):
                    sources.append(os.path.relpath(os.path.join(dirpath, n), root))
    header_at = {}
    for s in sources:
        header_at.setdefault(os.path.basename(s), s)
    faults = []
    checked = 0
    for s in sorted(sources):
        layer = layer_of(s, layers)
        if layer is None:
            faults.append(f"{s}: in no layer of the table")
            continue
        allowed, core = rules[layer]
        for number, line in enumerate(open(os.path.join(root, s), encoding="utf-8", errors="replace"), 1):
            quoted = re.match(r'\s*#\s*include\s+"([^"]+)"', line)
            angled = re.match(r"\s*#\s*include\s+<(Q[A-Za-z]*|Qt[^>]*)(/[^>]*)?>", line)
            if angled and core:
                faults.append(f"{s}:{number}: the core includes Qt ({angled.group(1)})")
            if not quoted:
                continue
            target = header_at.get(os.path.basename(quoted.group(1)))
            if target is None:
                continue  # generated or from outside the tree
            checked += 1
            to = layer_of(target, layers)
            if to != layer and to not in allowed:
                faults.append(f"{s}:{number}: {layer} may not include {target} ({to})")
    for f in faults:
        print(f)
    print(f"{checked} includes checked in {len(sources)} files")
    if checked == 0:
        print("no include was checked")
        return 1
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1] if len(sys.argv) > 1 else "."))
