#!/usr/bin/env python3
"""Builds a folder of benchmark inputs: SQLite databases of several sizes (text,
numbers and indexes, like the databases this program archives), a text file
and a binary file. Reuses the folder when it is already complete.

usage: make_databases.py DIR [LARGEST_MB]
"""
import os
import random
import sqlite3
import sys

WORDS = ("account balance customer invoice order payment product quantity region "
         "remote sales shipment stock supplier tamblewick total warehouse ledger "
         "entry branch office daily report transfer note pending closed open").split()


def make_db(path, target_bytes, seed):
    rng = random.Random(seed)
    tmp = path + ".tmp"
    if os.path.exists(tmp):
        os.remove(tmp)
    con = sqlite3.connect(tmp)
    con.executescript("""
        PRAGMA page_size = 4096; PRAGMA journal_mode = OFF; PRAGMA synchronous = OFF;
        CREATE TABLE customer (id INTEGER PRIMARY KEY, name TEXT, city TEXT, balance REAL);
        CREATE TABLE orders (id INTEGER PRIMARY KEY, customer INTEGER, placed TEXT,
                             amount REAL, quantity INTEGER, note TEXT);
        CREATE INDEX orders_customer ON orders(customer);
        CREATE INDEX orders_placed ON orders(placed);
    """)
    n = 0
    while True:
        rows = []
        for _ in range(20000):
            n += 1
            note = " ".join(rng.choice(WORDS) for _ in range(rng.randint(3, 14)))
            rows.append((n, rng.randint(1, 50000),
                         f"20{rng.randint(10, 26):02d}-{rng.randint(1, 12):02d}-{rng.randint(1, 28):02d}",
                         round(rng.uniform(1, 99999), 2), rng.randint(1, 500), note))
        con.executemany("INSERT INTO orders VALUES (?,?,?,?,?,?)", rows)
        if n <= 60000:
            con.executemany("INSERT INTO customer VALUES (?,?,?,?)",
                            [(n - 20000 + i, f"Customer {rng.randint(1, 10**6)}",
                              rng.choice(WORDS).title(), rng.uniform(-1000, 100000))
                             for i in range(1, 20001)])
        con.commit()
        if os.path.getsize(tmp) >= target_bytes:
            break
    con.close()
    os.replace(tmp, path)


def main():
    out = sys.argv[1]
    largest = int(sys.argv[2]) if len(sys.argv) > 2 else 200
    os.makedirs(out, exist_ok=True)
    sizes = [(f"QRN_Branch{i}_dat.mdf", mb) for i, mb in
             enumerate(sorted({max(1, largest // 40), max(2, largest // 8), largest // 2, largest}))]
    for name, mb in sizes:
        path = os.path.join(out, name)
        if not os.path.exists(path):
            print(f"making {name} ({mb} MB)...", file=sys.stderr)
            make_db(path, mb << 20, seed=mb)
    text = os.path.join(out, "Notes_dat.mdf")
    if not os.path.exists(text):
        rng = random.Random(7)
        with open(text, "w") as f:
            for i in range(400000):
                f.write(" ".join(rng.choice(WORDS) for _ in range(rng.randint(4, 16))) + f" {i}.\n")
    binary = os.path.join(out, "Binary_dat.mdf")
    if not os.path.exists(binary):
        with open(binary, "wb") as f:
            for exe in ("/usr/bin/cmake", "/usr/bin/python3", "/usr/bin/gdb", "/usr/bin/git"):
                if os.path.exists(exe):
                    with open(exe, "rb") as src:
                        f.write(src.read())


if __name__ == "__main__":
    main()
