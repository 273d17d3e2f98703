"""Parses a raw deflate stream into its blocks and symbols.

A small, slow, strict reader written for the checks: it keeps what a plain
decoder throws away (block types, header counts, code lengths, every literal
and match) so tests can look at the encoder's decisions, and so a mismatch
between two encoders can be reported as the first differing symbol.
"""

LENGTH_BASE = (3, 4, 5, 6, 7, 8, 9, 10, 11, 13, 15, 17, 19, 23, 27, 31, 35, 43, 51, 59, 67, 83,
               99, 115, 131, 163, 195, 227, 258)
LENGTH_EXTRA = (0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5,
                5, 0)
DIST_BASE = (1, 2, 3, 4, 5, 7, 9, 13, 17, 25, 33, 49, 65, 97, 129, 193, 257, 385, 513, 769, 1025,
             1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577)
DIST_EXTRA = (0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12,
              12, 13, 13)
CL_ORDER = (16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15)


class StreamError(Exception):
    pass


class Block:
    """One block: kind 0 stored, 1 fixed, 2 dynamic; symbols are ints or (length, distance)."""

    def __init__(self, kind, final, start_bit):
        self.kind = kind
        self.final = final
        self.start_bit = start_bit
        self.hlit = self.hdist = self.hclen = None
        self.lit_lens = self.dist_lens = None
        self.symbols = []
        self.stored_len = None

    @property
    def matches(self):
        return [s for s in self.symbols if isinstance(s, tuple)]


class BitReader:
    def __init__(self, data):
        self.data = data
        self.pos = 0  # in bits

    def bit(self):
        byte = self.pos >> 3
        if byte >= len(self.data):
            raise StreamError("stream ends early")
        b = (self.data[byte] >> (self.pos & 7)) & 1
        self.pos += 1
        return b

    def bits(self, n):
        v = 0
        for i in range(n):
            v |= self.bit() << i
        return v


def make_decoder(lengths):
    """Canonical code table {(length, code): symbol}; rejects over- and under-full sets."""
    counts = [0] * 16
    for length in lengths:
        counts[length] += 1
    counts[0] = 0
    used = [n for n, length in enumerate(lengths) if length]
    if len(used) > 1:
        kraft = sum(1 << (15 - lengths[n]) for n in used)
        if kraft != 1 << 15:
            raise StreamError("incomplete or over-subscribed code")
    next_code = [0] * 16
    code = 0
    for bits in range(1, 16):
        code = (code + counts[bits - 1]) << 1
        next_code[bits] = code
    table = {}
    for n, length in enumerate(lengths):
        if length:
            table[(length, next_code[length])] = n
            next_code[length] += 1
    return table


def decode_symbol(reader, table):
    code = 0
    for length in range(1, 16):
        code = (code << 1) | reader.bit()
        sym = table.get((length, code))
        if sym is not None:
            return sym
    raise StreamError("no such code")


FIXED_LIT = make_decoder([8] * 144 + [9] * 112 + [7] * 24 + [8] * 8)
FIXED_DIST = make_decoder([5] * 32)


def read_dynamic_header(reader, block):
    block.hlit = reader.bits(5) + 257
    block.hdist = reader.bits(5) + 1
    block.hclen = reader.bits(4) + 4
    cl_lens = [0] * 19
    for i in range(block.hclen):
        cl_lens[CL_ORDER[i]] = reader.bits(3)
    cl_table = make_decoder(cl_lens)
    lens = []
    total = block.hlit + block.hdist
    while len(lens) < total:
        sym = decode_symbol(reader, cl_table)
        if sym < 16:
            lens.append(sym)
        elif sym == 16:
            if not lens:
                raise StreamError("repeat with no previous length")
            lens.extend([lens[-1]] * (3 + reader.bits(2)))
        elif sym == 17:
            lens.extend([0] * (3 + reader.bits(3)))
        else:
            lens.extend([0] * (11 + reader.bits(7)))
    if len(lens) != total:
        raise StreamError("code lengths run past the end")
    block.lit_lens = lens[:block.hlit]
    block.dist_lens = lens[block.hlit:]
    if block.lit_lens[256] == 0:
        raise StreamError("no end-of-block code")
    return make_decoder(block.lit_lens), make_decoder(block.dist_lens)


def parse(data):
    """Returns (blocks, decoded bytes); raises StreamError on any malformed input."""
    reader = BitReader(data)
    out = bytearray()
    blocks = []
    while True:
        block = Block(0, 0, reader.pos)
        block.final = reader.bits(1)
        block.kind = reader.bits(2)
        blocks.append(block)
        if block.kind == 0:
            reader.pos = (reader.pos + 7) & ~7
            length = reader.bits(16)
            if reader.bits(16) != length ^ 0xFFFF:
                raise StreamError("stored length check fails")
            start = reader.pos >> 3
            if start + length > len(data):
                raise StreamError("stored block runs past the end")
            out += data[start:start + length]
            reader.pos += 8 * length
            block.stored_len = length
        elif block.kind in (1, 2):
            if block.kind == 1:
                lit_table, dist_table = FIXED_LIT, FIXED_DIST
            else:
                lit_table, dist_table = read_dynamic_header(reader, block)
            while True:
                sym = decode_symbol(reader, lit_table)
                if sym < 256:
                    out.append(sym)
                    block.symbols.append(sym)
                elif sym == 256:
                    break
                else:
                    code = sym - 257
                    if code >= 29:
                        raise StreamError("bad length code")
                    length = LENGTH_BASE[code] + reader.bits(LENGTH_EXTRA[code])
                    dcode = decode_symbol(reader, dist_table)
                    if dcode >= 30:
                        raise StreamError("bad distance code")
                    dist = DIST_BASE[dcode] + reader.bits(DIST_EXTRA[dcode])
                    if dist > len(out):
                        raise StreamError("distance before the start")
                    for _ in range(length):
                        out.append(out[-dist])
                    block.symbols.append((length, dist))
        else:
            raise StreamError("reserved block type")
        if block.final:
            break
    if (reader.pos + 7) >> 3 != len(data):
        raise StreamError("bytes after the final block")
    return blocks, bytes(out)
