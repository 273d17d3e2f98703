"""Deterministic inputs for the reference encoder's checks.

Every builder takes no arguments and returns the same bytes on every run (a
seeded generator, never the clock), so a mismatch can be reproduced.
"""

import random


def rng(seed):
    return random.Random(seed)


def random_bytes(n, seed):
    return rng(seed).randbytes(n)


def mixed(n, seed):
    """Runs, repeats and noise in turn, so blocks see matches and literals of every kind."""
    r = rng(seed)
    out = bytearray()
    while len(out) < n:
        kind = r.randrange(4)
        if kind == 0:
            out += bytes([r.randrange(256)]) * r.randint(3, 300)
        elif kind == 1 and len(out) > 10:
            start = r.randrange(len(out))
            out += out[start:start + r.randint(3, 258)]
        elif kind == 2:
            out += r.randbytes(r.randint(1, 40))
        else:
            out += b"field_%d=%s;" % (r.randrange(1000), b"x" * r.randrange(8))
    return bytes(out[:n])


def english_text(n=150_000, seed=11):
    """Sentences of words drawn with a skewed frequency, like running text."""
    r = rng(seed)
    letters = "etaoinshrdlcumwfgypbvkjxqz"
    weights = [26 - i for i in range(26)]
    words = ["".join(r.choices(letters, weights, k=r.choice((1, 2, 2, 3, 3, 4, 5, 6, 7, 8, 10))))
             for _ in range(2000)]
    word_weights = [1.0 / (i + 1) for i in range(len(words))]
    out = []
    size = 0
    while size < n:
        sentence = r.choices(words, word_weights, k=r.randint(4, 18))
        sentence[0] = sentence[0].capitalize()
        s = " ".join(sentence) + r.choice((". ", ". ", ", ", "? ", ".\n"))
        out.append(s)
        size += len(s)
    return "".join(out).encode("ascii")[:n]


def database_pages(n=200_000, seed=12):
    """Fixed-size pages of records: headers, counters, names, padding with zeros."""
    r = rng(seed)
    names = [r.choice(("SMITH", "JONES", "TAYLOR", "BROWN", "WILSON", "EVANS")) + str(i)
             for i in range(50)]
    out = bytearray()
    page_no = 0
    record_id = 1000
    while len(out) < n:
        page = bytearray(b"PG" + page_no.to_bytes(4, "little") + b"\x01\x00" + bytes(8))
        while len(page) < 4096 - 64:
            name = r.choice(names).encode().ljust(24, b"\x00")
            amount = r.randrange(100000)
            page += (record_id.to_bytes(4, "little") + name + amount.to_bytes(4, "little") +
                     b"\x00\x00\x80\x3f" + bytes([r.randrange(4)]) + b"\xff" * 3)
            record_id += 1
        page += bytes(4096 - len(page))
        out += page
        page_no += 1
    return bytes(out[:n])


def long_chains(n=120_000, seed=13):
    """One 3-byte prefix again and again with differing tails: every search walks far."""
    r = rng(seed)
    out = bytearray()
    tails = [r.randbytes(6) for _ in range(64)]
    while len(out) < n:
        out += b"\x01\x02\x03" + r.choice(tails)[:r.randint(2, 6)] + r.randbytes(r.randint(0, 2))
    return bytes(out[:n])


def repeats_near_too_far(seed=14):
    """3-byte repeats 4,090..4,102 bytes back, with different bytes around them, in
    compressible filler that has no repeats of its own (so the blocks are coded)."""
    data = bytearray(literal_only_skewed(60_000, seed))
    pos = 100
    for d in range(4090, 4103):
        token = bytes([0xF0 + (d & 7), 0x5A, d & 0xFF])
        data[pos:pos + 3] = token
        data[pos + d:pos + d + 3] = token
        # Make sure the repeats are exactly 3 bytes long.
        data[pos + d - 1] = data[pos - 1] ^ 0x55
        data[pos + d + 3] = data[pos + 3] ^ 0x55
        pos += d + 200
        if pos + 4200 > len(data):
            break
    return bytes(data)


def early_block_ends(n=150_000, seed=15):
    """Few literals between long copies: at levels >= 3 blocks end every 4,096 symbols."""
    r = rng(seed)
    chunks = [r.randbytes(40) for _ in range(12)]
    out = bytearray()
    while len(out) < n:
        out += r.randbytes(2) + r.choice(chunks)
    return bytes(out[:n])


def window_tail_pair(seed=16):
    """Two entries for one run: the first leaves its last byte at the window's top, and
    the second (compressible, so its last block is coded) ends in a string whose
    best candidate depends on that byte."""
    r = rng(seed)
    x, y = 0xA7, 0x3C
    first = r.randbytes(65_535) + bytes([x])
    t = r.randbytes(24)
    second = bytearray(english_text(65_535, seed))
    second[40_000:40_025] = t + bytes([x])
    second[50_000:50_025] = t + bytes([y])
    second[-24:] = t
    return first, bytes(second)


def literal_only_skewed(n=6000, seed=17):
    """Bytes of a skewed 64-letter alphabet with no 3-byte string repeated: only literals."""
    r = rng(seed)
    alphabet = list(range(64, 128))
    weights = [1.0 / (i + 1) for i in range(64)]
    seen = set()
    out = bytearray(r.choices(alphabet, k=2))
    while len(out) < n:
        for _ in range(100):
            c = r.choices(alphabet, weights)[0]
            if (out[-2], out[-1], c) not in seen:
                break
        else:
            c = next(c for c in alphabet if (out[-2], out[-1], c) not in seen)
        seen.add((out[-2], out[-1], c))
        out.append(c)
    return bytes(out)


def lazy_thresholds(seed=18):
    """For each lazy_len of the lazy levels, and one below it, a match exactly that
    long followed at the next position by a longer one: only a search at that next
    position finds the longer match, so the threshold decides the stream.  The
    strings use bytes 128..255, the filler (with no repeats of its own) bytes 64..127."""
    r = rng(seed)
    filler = literal_only_skewed(40_000, seed)
    out = bytearray(filler[:300])
    at = 300
    for k in (3, 4, 15, 16, 31, 32, 127, 128, 257):
        body = bytes(r.randrange(128, 256) for _ in range(k + 8))
        marker = bytes([r.randrange(128, 256)])
        brk = bytes([body[k - 1] ^ 0x01])
        # The first copy holds the marker and k - 1 bytes of body, the second the body
        # and more; the third (the marker and the whole body) has a match of exactly
        # k at its start and a longer one at the next position.
        for piece in (marker + body[:k - 1] + brk, body, marker + body):
            out += piece + filler[at:at + 300]
            at += 300
    return bytes(out)


def chain_thresholds(seed=22):
    """For each good_len of the lazy levels, and one below it, a match of that length
    followed at the next position by a longer one that lies behind enough decoys
    (strings with the same first three bytes) that only the whole chain_len reaches
    it, not a quarter of it.  Bytes as in lazy_thresholds, but the markers are of
    2..63, after a 0 in the first copy and a 1 in the last, so that no match there
    starts before the marker."""
    r = rng(seed)
    filler = literal_only_skewed(60_000, seed)
    out = bytearray(filler[:300])
    at = 300
    for good, decoys in ((8, 20), (8, 80), (8, 150), (32, 600), (32, 2000)):
        for k in (good - 1, good):
            body = bytes(r.randrange(128, 256) for _ in range(k + 8))
            marker = bytes([r.randrange(2, 64)])
            brk = bytes([body[k - 1] ^ 0x01])
            out += b"\x00" + marker + body[:k - 1] + brk + filler[at:at + 100]
            out += body + filler[at + 100:at + 200]
            at += 200
            for _ in range(decoys):
                out += body[:3] + filler[at:at + 3]
                at += 3
            out += filler[at:at + 100] + b"\x01" + marker + body + filler[at + 100:at + 200]
            at += 200
    return bytes(out)


def early_end_edges(seed=19):
    """Blocks that end early at their first check (few matches, long ones), then a run
    of exactly one literal and one match in turn: every later check finds matches at
    exactly half of the symbols, where the rule asks for fewer.  Chunks use bytes
    128..255, the literals of the first part 0..63 and of the second 64..127; in the
    second part no literal follows or precedes a chunk twice, so no match grows."""
    r = rng(seed)
    chunks = [bytes(r.randrange(128, 256) for _ in range(20)) for _ in range(64)]
    out = bytearray(b"".join(chunks))
    for _ in range(600):
        out += bytes(r.randrange(0, 64) for _ in range(3)) + r.choice(chunks)
    for i in range(4096):
        out += bytes([64 + (i // 64) % 64]) + chunks[i % 64]
    return bytes(out)


def whole_entry_tie():
    """One block whose cheapest coding is exactly as long as its input: the entry is
    stored raw, since a tie goes to storing."""
    r = rng(181_680)
    return bytes(r.randrange(0, 181) for _ in range(680))


def stored_block_tie(seed=20):
    """A first block of 32,767 literals, then a final block of 20 literals of 9 bits
    each whose fixed coding (24 bytes) costs exactly a stored block's 20 + 4: the tie
    goes to the stored block."""
    r = rng(seed)
    tail = r.sample(range(144, 256), 20)
    return literal_only_skewed(32_767, seed) + bytes(tail)


def text_binary_tie(seed=21):
    """Literals only, 400 of bytes 7..127 and 100 of the others: exactly a quarter, which
    is still text (binary needs more)."""
    for attempt in range(100):
        r = rng(seed * 100 + attempt)
        data = [r.randrange(64, 128) for _ in range(400)] + [r.randrange(128, 256)
                                                             for _ in range(100)]
        r.shuffle(data)
        trigrams = [bytes(data[i:i + 3]) for i in range(len(data) - 2)]
        if len(set(trigrams)) == len(trigrams):
            return bytes(data)
    raise AssertionError("no input without repeats")


def nice_edge(seed=23):
    """A string whose nearest earlier copy matches 257 bytes and an older one 258: only
    a nice_len of 258 walks on to the older copy."""
    r = rng(seed)
    filler = literal_only_skewed(2_000, seed)
    s = bytes(r.randrange(128, 256) for _ in range(300))
    near = s[:257] + bytes([s[257] ^ 0x01])
    return filler[:200] + s + filler[200:400] + near + filler[400:600] + s + filler[600:800]
