#!/usr/bin/env python3
"""Reference model of the product's deflate encoder, in plain Python.

It follows the encoder's rules step by step (hash chains, greedy and lazy
parsing, block ends, tree building, block choice, bit output, window slides
and the state the work buffers carry from one entry to the next), so for the
same level and the same sequence of inputs it must produce the same bytes as
the C++ encoder.  compare_reference.py runs both and compares them.

Usage: deflate_ref.py LEVEL INPUT1 OUTPUT1 [INPUT2 OUTPUT2 ...]
Each input is compressed as one entry, in order, with the same work buffers;
each output receives exactly the entry's data, and one line per entry
"method=M internal=I flags=F size=N" is printed.
"""

import os
import sys

# ---------------------------------------------------------------------------
# Constants of the match finder.

WINDOW_SIZE = 65536
HALF = 32768
HASH_MASK = 0x7FFF
MIN_MATCH = 3
MAX_MATCH = 258
MIN_LOOKAHEAD = MAX_MATCH + MIN_MATCH + 1  # 262
MAX_DIST = HALF - MIN_LOOKAHEAD  # 32,506
SLIDE_AT = WINDOW_SIZE - MIN_LOOKAHEAD  # 65,274
TOO_FAR = 4096
FIRST_READ = 32768

# Level rows: good_len, lazy_len, nice_len, chain_len; row 0 is never used.
LEVEL_PARAMS = (
    (0, 0, 0, 0),
    (4, 4, 8, 4),
    (4, 5, 16, 8),
    (4, 6, 32, 32),
    (4, 4, 16, 16),
    (8, 16, 32, 32),
    (8, 16, 128, 128),
    (8, 32, 128, 256),
    (32, 128, 258, 1024),
    (32, 258, 258, 4096),
)

# ---------------------------------------------------------------------------
# Constants of the block coder.

LIT_CODES = 286
D_CODES = 30
BL_CODES = 19
HEAP_SIZE = 2 * LIT_CODES + 1  # 573
MAX_BITS = 15
MAX_BL_BITS = 7
END_BLOCK = 256
REP_3_6 = 16
REPZ_3_10 = 17
REPZ_11_138 = 18
LIT_BUFSIZE = 32768
OUT_BUF_SIZE = 1024

EXTRA_LBITS = (0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5,
               5, 0)
EXTRA_DBITS = (0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8, 9, 9, 10, 10, 11,
               11, 12, 12, 13, 13)
EXTRA_BLBITS = (0,) * 16 + (2, 3, 7)
BL_ORDER = (16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15)

# assign_lengths hands the lengths out again in frequency order only for a
# tree whose codes overflowed the limit: the repair that precedes it is the
# condition of both steps.  Setting DEFLATE_REF_REASSIGN=always applies it to
# every tree (among leaves of equal frequency that can swap lengths).
REASSIGN_ALWAYS = os.environ.get("DEFLATE_REF_REASSIGN", "overflow") == "always"


def reverse_bits(code, n):
    """The low n bits of code in reverse order."""
    res = 0
    for _ in range(n):
        res = (res << 1) | (code & 1)
        code >>= 1
    return res


def gencodes(codes, lens, top, len_counts):
    """Gives every symbol 0..top with a length its canonical code, bit-reversed."""
    next_code = [0] * (MAX_BITS + 1)
    code = 0
    for bits in range(1, MAX_BITS + 1):
        code = ((code + len_counts[bits - 1]) << 1) & 0xFFFF
        next_code[bits] = code
    for n in range(top + 1):
        length = lens[n]
        if length:
            codes[n] = reverse_bits(next_code[length], length)
            next_code[length] = (next_code[length] + 1) & 0xFFFF


class CodeTables:
    """Length and distance code tables and the fixed trees; constant values."""

    def __init__(self):
        self.len_code_of = bytearray(256)
        self.len_base = [0] * 29
        length = 0
        for code in range(28):
            self.len_base[code] = length
            for _ in range(1 << EXTRA_LBITS[code]):
                self.len_code_of[length] = code
                length += 1
        # Length 258 has a code of its own rather than 227 + 31.
        self.len_code_of[255] = 28

        self.dist_code_of = bytearray(512)
        self.dist_base = [0] * D_CODES
        dist = 0
        for code in range(16):
            self.dist_base[code] = dist
            for _ in range(1 << EXTRA_DBITS[code]):
                self.dist_code_of[dist] = code
                dist += 1
        dist >>= 7
        for code in range(16, D_CODES):
            self.dist_base[code] = dist << 7
            for _ in range(1 << (EXTRA_DBITS[code] - 7)):
                self.dist_code_of[256 + dist] = code
                dist += 1

        len_counts = [0] * (MAX_BITS + 1)
        self.fixed_lit_lens = [8] * 144 + [9] * 112 + [7] * 24 + [8] * 8
        for length in self.fixed_lit_lens:
            len_counts[length] += 1
        self.fixed_lit_codes = [0] * 288
        gencodes(self.fixed_lit_codes, self.fixed_lit_lens, 287, len_counts)
        self.fixed_dist_lens = [5] * D_CODES
        self.fixed_dist_codes = [reverse_bits(n, 5) for n in range(D_CODES)]

    def d_code(self, dist):
        """Distance code of a distance minus 1."""
        if dist < 256:
            return self.dist_code_of[dist]
        return self.dist_code_of[256 + (dist >> 7)]


TABLES = CodeTables()


class WorkBuffers:
    """The writer's six work buffers, shared by every entry of one operation.

    The window is zeroed once here; afterwards it keeps whatever the reads and
    the end-of-entry wipe leave in it, and the link table is never cleared.
    """

    def __init__(self):
        self.window = bytearray(WINDOW_SIZE)
        self.head_table = [0] * HALF
        self.link_table = [0] * HALF
        self.sym_bytes = bytearray(LIT_BUFSIZE)
        self.sym_dists = [0] * LIT_BUFSIZE
        self.sym_kinds = bytearray(LIT_BUFSIZE // 8)


class HeaderInfo:
    """The three header fields the encoder reads or sets, as the writer sets them before a run."""

    def __init__(self):
        self.general_purpose_flags = 0
        self.compression_method = 8
        self.internal_attributes = 2


class TreeParams:
    """One dynamic tree (frequencies/codes and parents/lengths) and what describes its alphabet."""

    def __init__(self, nodes, fixed_lens, extra, extra_base, elems, max_length):
        self.fc = [0] * nodes  # frequency while building, code afterwards
        self.dl = [0] * nodes  # parent while building, code length afterwards
        self.fixed_lens = fixed_lens
        self.extra = extra
        self.extra_base = extra_base
        self.elems = elems
        self.max_length = max_length
        self.top_symbol = -1


class Encoder:
    """State of one run (one entry): bit writer, symbol counters, trees, match finder."""

    def __init__(self, bufs, level, header, read_input, write_output):
        if not 1 <= level <= 9:
            raise ValueError("PackLevel must be 1..9")
        self.bufs = bufs
        self.level = level
        self.header = header
        self.read_input = read_input  # (window, offset, count) -> bytes placed
        self.write_output = write_output  # (bytes) -> None
        t = TABLES
        self.lit = TreeParams(HEAP_SIZE, t.fixed_lit_lens, EXTRA_LBITS, 257, LIT_CODES, MAX_BITS)
        self.dist = TreeParams(2 * D_CODES + 1, t.fixed_dist_lens, EXTRA_DBITS, 0, D_CODES,
                               MAX_BITS)
        self.cl = TreeParams(2 * BL_CODES + 1, None, EXTRA_BLBITS, 0, BL_CODES, MAX_BL_BITS)
        self.heap = [0] * HEAP_SIZE
        self.node_depth = bytearray(HEAP_SIZE)
        self.len_counts = [0] * (MAX_BITS + 1)
        # Bit writer.
        self.bit_buf = 0
        self.bit_count = 0
        self.out_buf = bytearray(OUT_BUF_SIZE)
        self.out_len = 0
        self.total_bits = 0
        # Match finder.
        self.cur_pos = 0
        self.lookahead = 0
        self.match_pos = 0
        self.block_origin = 0
        self.hash_key = 0
        self.input_done = False
        self.good_len = self.lazy_len = self.nice_len = self.chain_len = 0

    # -----------------------------------------------------------------------
    # Bit output.

    def send_bits(self, value, length):
        bit_count = self.bit_count
        if bit_count > 16 - length:
            word = (self.bit_buf | (value << bit_count)) & 0xFFFF
            self.emit_word(word)
            self.bit_buf = (value >> (16 - bit_count)) & 0xFFFF
            self.bit_count = bit_count + length - 16
        else:
            self.bit_buf = (self.bit_buf | (value << bit_count)) & 0xFFFF
            self.bit_count = bit_count + length

    def emit_word(self, w):
        if self.out_len >= OUT_BUF_SIZE - 1:
            self.flush_output()
        self.out_buf[self.out_len] = w & 0xFF
        self.out_buf[self.out_len + 1] = w >> 8
        self.out_len += 2

    def emit_byte(self, b):
        if self.out_len >= OUT_BUF_SIZE:
            self.flush_output()
        self.out_buf[self.out_len] = b
        self.out_len += 1

    def flush_output(self):
        if self.out_len > 0:
            self.write_output(bytes(self.out_buf[:self.out_len]))
            self.out_len = 0

    def align_to_byte(self):
        if self.bit_count > 8:
            self.emit_word(self.bit_buf)
        elif self.bit_count > 0:
            self.emit_byte(self.bit_buf & 0xFF)
        self.flush_output()
        self.bit_buf = 0
        self.bit_count = 0

    def write_stored(self, data_pos, length, with_header):
        self.align_to_byte()
        if with_header:
            self.emit_word(length)
            self.emit_word(length ^ 0xFFFF)
        self.flush_output()
        self.write_output(bytes(self.bufs.window[data_pos:data_pos + length]))

    # -----------------------------------------------------------------------
    # Symbol recording.

    def ct_init(self):
        self.total_bits = 0
        self.bit_buf = 0
        self.bit_count = 0
        self.reset_block()

    def reset_block(self):
        lit_fc = self.lit.fc
        for n in range(LIT_CODES):
            lit_fc[n] = 0
        dist_fc = self.dist.fc
        for n in range(D_CODES):
            dist_fc[n] = 0
        cl_fc = self.cl.fc
        for n in range(BL_CODES):
            cl_fc[n] = 0
        lit_fc[END_BLOCK] = 1
        self.opt_bits = 0
        self.fixed_bits = 0
        self.sym_count = 0
        self.dist_count = 0
        self.kind_count = 0
        self.kind_acc = 0
        self.kind_mask = 1

    def ct_tally(self, dist, lc, block_input_len):
        """Records one symbol; returns True when the block should end now.

        block_input_len is cur_pos - block_origin at the time of the call.
        """
        bufs = self.bufs
        sym_count = self.sym_count
        bufs.sym_bytes[sym_count] = lc
        sym_count += 1
        self.sym_count = sym_count
        if dist == 0:
            self.lit.fc[lc] += 1
        else:
            dist -= 1
            self.lit.fc[257 + TABLES.len_code_of[lc]] += 1
            self.dist.fc[TABLES.d_code(dist)] += 1
            bufs.sym_dists[self.dist_count] = dist
            self.dist_count += 1
            self.kind_acc |= self.kind_mask
        self.kind_mask = (self.kind_mask << 1) & 0xFF
        if sym_count & 7 == 0:
            bufs.sym_kinds[self.kind_count] = self.kind_acc
            self.kind_count += 1
            self.kind_acc = 0
            self.kind_mask = 1
        if self.level > 2 and sym_count & 0xFFF == 0:
            # Mostly literals yet well under half the input: the block's
            # statistics are likely stale, so start a new one.
            out_length = sym_count * 8
            dist_fc = self.dist.fc
            for dcode in range(D_CODES):
                out_length += dist_fc[dcode] * (5 + EXTRA_DBITS[dcode])
            out_length = (out_length & 0xFFFFFFFF) >> 3
            if self.dist_count < sym_count // 2 and out_length < block_input_len // 2:
                return True
        return sym_count == LIT_BUFSIZE - 1 or self.dist_count == LIT_BUFSIZE

    # -----------------------------------------------------------------------
    # Tree building.

    def build_code_tree(self, desc):
        fc = desc.fc
        dl = desc.dl
        heap = self.heap
        depth = self.node_depth
        elems = desc.elems
        heap_len = 0
        top = -1
        for n in range(elems):
            if fc[n] != 0:
                heap_len += 1
                heap[heap_len] = n
                top = n
                depth[n] = 0
            else:
                dl[n] = 0
        # At least two codes, so that every code has at least one bit.
        while heap_len < 2:
            if top < 2:
                top += 1
                node = top
            else:
                node = 0
            heap_len += 1
            heap[heap_len] = node
            fc[node] = 1
            depth[node] = 0
            self.opt_bits -= 1
            if desc.fixed_lens is not None:
                self.fixed_bits -= desc.fixed_lens[node]
        desc.top_symbol = top

        def sift_down(k):
            v = heap[k]
            fv = fc[v]
            dv = depth[v]
            j = k << 1
            while j <= heap_len:
                hj = heap[j]
                if j < heap_len:
                    hj1 = heap[j + 1]
                    if fc[hj1] < fc[hj] or (fc[hj1] == fc[hj] and depth[hj1] <= depth[hj]):
                        j += 1
                        hj = hj1
                if fv < fc[hj] or (fv == fc[hj] and dv <= depth[hj]):
                    break
                heap[k] = hj
                k = j
                j <<= 1
            heap[k] = v

        for k in range(heap_len // 2, 0, -1):
            sift_down(k)

        heap_max = HEAP_SIZE
        node = elems
        while heap_len >= 2:
            n = heap[1]
            heap[1] = heap[heap_len]
            heap_len -= 1
            sift_down(1)
            m = heap[1]
            heap_max -= 1
            heap[heap_max] = n
            heap_max -= 1
            heap[heap_max] = m
            fc[node] = (fc[n] + fc[m]) & 0xFFFF
            depth[node] = (max(depth[n], depth[m]) + 1) & 0xFF
            dl[n] = node
            dl[m] = node
            heap[1] = node
            sift_down(1)
            node += 1
        heap_max -= 1
        heap[heap_max] = heap[1]

        self.assign_lengths(desc, heap_max)
        gencodes(fc, dl, top, self.len_counts)

    def assign_lengths(self, desc, heap_max):
        """Code lengths from the tree, limited to desc.max_length; adds the block's costs."""
        fc = desc.fc
        dl = desc.dl
        heap = self.heap
        top = desc.top_symbol
        max_length = desc.max_length
        extra = desc.extra
        base = desc.extra_base
        fixed_lens = desc.fixed_lens
        len_counts = self.len_counts
        for bits in range(MAX_BITS + 1):
            len_counts[bits] = 0

        dl[heap[heap_max]] = 0
        overflow = 0
        opt_bits = self.opt_bits
        fixed_bits = self.fixed_bits
        for h in range(heap_max + 1, HEAP_SIZE):
            n = heap[h]
            bits = dl[dl[n]] + 1
            if bits > max_length:
                bits = max_length
                overflow += 1
            dl[n] = bits
            if n > top:
                continue
            len_counts[bits] += 1
            x = extra[n - base] if n >= base else 0
            f = fc[n]
            opt_bits += f * (bits + x)
            if fixed_lens is not None:
                fixed_bits += f * (fixed_lens[n] + x)
        self.fixed_bits = fixed_bits

        had_overflow = overflow > 0
        if had_overflow:
            # Move leaves up from below the limit until the counts fit it again.
            while True:
                bits = max_length - 1
                while len_counts[bits] == 0:
                    bits -= 1
                len_counts[bits] -= 1
                len_counts[bits + 1] += 2
                len_counts[max_length] -= 1
                overflow -= 2
                if overflow <= 0:
                    break
        if had_overflow or REASSIGN_ALWAYS:
            # Lengths are handed out again in frequency order: the lowest
            # frequencies sit nearest the top of the sorted area.
            h = HEAP_SIZE
            for bits in range(max_length, 0, -1):
                n = len_counts[bits]
                while n != 0:
                    h -= 1
                    m = heap[h]
                    if m > top:
                        continue
                    if dl[m] != bits:
                        opt_bits += (bits - dl[m]) * fc[m]
                        dl[m] = bits
                    n -= 1
        self.opt_bits = opt_bits

    # -----------------------------------------------------------------------
    # Run-length description of the code lengths.

    def scan_runs(self, desc):
        dl = desc.dl
        top = desc.top_symbol
        cl_fc = self.cl.fc
        prevlen = -1
        nextlen = dl[0]
        count = 0
        max_count, min_count = (138, 3) if nextlen == 0 else (7, 4)
        dl[top + 1] = 0xFFFF  # end guard, read again by send_tree
        for n in range(top + 1):
            curlen = nextlen
            nextlen = dl[n + 1]
            count += 1
            if count < max_count and curlen == nextlen:
                continue
            if count < min_count:
                cl_fc[curlen] += count
            elif curlen != 0:
                if curlen != prevlen:
                    cl_fc[curlen] += 1
                cl_fc[REP_3_6] += 1
            elif count <= 10:
                cl_fc[REPZ_3_10] += 1
            else:
                cl_fc[REPZ_11_138] += 1
            count = 0
            prevlen = curlen
            if nextlen == 0:
                max_count, min_count = 138, 3
            elif curlen == nextlen:
                max_count, min_count = 6, 3
            else:
                max_count, min_count = 7, 4

    def send_tree(self, desc, top):
        dl = desc.dl
        cl_codes = self.cl.fc
        cl_lens = self.cl.dl
        send_bits = self.send_bits
        prevlen = -1
        nextlen = dl[0]
        count = 0
        max_count, min_count = (138, 3) if nextlen == 0 else (7, 4)
        for n in range(top + 1):
            curlen = nextlen
            nextlen = dl[n + 1]
            count += 1
            if count < max_count and curlen == nextlen:
                continue
            if count < min_count:
                for _ in range(count):
                    send_bits(cl_codes[curlen], cl_lens[curlen])
            elif curlen != 0:
                if curlen != prevlen:
                    send_bits(cl_codes[curlen], cl_lens[curlen])
                    count -= 1
                send_bits(cl_codes[REP_3_6], cl_lens[REP_3_6])
                send_bits(count - 3, 2)
            elif count <= 10:
                send_bits(cl_codes[REPZ_3_10], cl_lens[REPZ_3_10])
                send_bits(count - 3, 3)
            else:
                send_bits(cl_codes[REPZ_11_138], cl_lens[REPZ_11_138])
                send_bits(count - 11, 7)
            count = 0
            prevlen = curlen
            if nextlen == 0:
                max_count, min_count = 138, 3
            elif curlen == nextlen:
                max_count, min_count = 6, 3
            else:
                max_count, min_count = 7, 4

    def build_cl_tree(self):
        self.scan_runs(self.lit)
        self.scan_runs(self.dist)
        self.build_code_tree(self.cl)
        cl_lens = self.cl.dl
        index = BL_CODES - 1
        while index > 3 and cl_lens[BL_ORDER[index]] == 0:
            index -= 1
        self.opt_bits += 3 * (index + 1) + 5 + 5 + 4
        return index

    def send_all_trees(self, lcodes, dcodes, blcodes):
        self.send_bits(lcodes - 257, 5)
        self.send_bits(dcodes - 1, 5)
        self.send_bits(blcodes - 4, 4)
        cl_lens = self.cl.dl
        for rank in range(blcodes):
            self.send_bits(cl_lens[BL_ORDER[rank]], 3)
        self.send_tree(self.lit, lcodes - 1)
        self.send_tree(self.dist, dcodes - 1)

    # -----------------------------------------------------------------------
    # Writing blocks.

    def compress_block(self, lcodes, llens, dcodes, dlens):
        bufs = self.bufs
        sym_bytes = bufs.sym_bytes
        sym_dists = bufs.sym_dists
        sym_kinds = bufs.sym_kinds
        t = TABLES
        len_code_of = t.len_code_of
        len_base = t.len_base
        dist_code_of = t.dist_code_of
        dist_base = t.dist_base
        send_bits = self.send_bits
        dx = 0
        kx = 0
        flags = 0
        for i in range(self.sym_count):
            if i & 7 == 0:
                flags = sym_kinds[kx]
                kx += 1
            lc = sym_bytes[i]
            if flags & 1 == 0:
                send_bits(lcodes[lc], llens[lc])
            else:
                code = len_code_of[lc]
                send_bits(lcodes[code + 257], llens[code + 257])
                extra = EXTRA_LBITS[code]
                if extra:
                    send_bits(lc - len_base[code], extra)
                dist = sym_dists[dx]
                dx += 1
                code = dist_code_of[dist] if dist < 256 else dist_code_of[256 + (dist >> 7)]
                send_bits(dcodes[code], dlens[code])
                extra = EXTRA_DBITS[code]
                if extra:
                    send_bits(dist - dist_base[code], extra)
            flags >>= 1
        send_bits(lcodes[END_BLOCK], llens[END_BLOCK])

    def classify_text(self):
        fc = self.lit.fc
        binary = sum(fc[0:7]) + sum(fc[128:256])
        ascii = sum(fc[7:128])
        self.header.internal_attributes = 0 if binary > ascii // 4 else 1

    def finish_block(self, data_pos, stored_len, last):
        """Writes the current block in its cheapest form; returns total_bits / 8.

        data_pos is the block's first byte in the window, or None when it has
        been moved out.
        """
        self.bufs.sym_kinds[self.kind_count] = self.kind_acc
        if self.header.internal_attributes == 2:
            self.classify_text()
        self.build_code_tree(self.lit)
        self.build_code_tree(self.dist)
        n_cl = self.build_cl_tree()

        opt_bytes = (self.opt_bits + 3 + 7) >> 3
        fixed_bytes = (self.fixed_bits + 3 + 7) >> 3
        if fixed_bytes <= opt_bytes:
            opt_bytes = fixed_bytes
        eof = 1 if last else 0

        if (stored_len <= opt_bytes and last and self.total_bits == 0
                and data_pos is not None):
            # The whole entry in one block that does not shrink: store it raw.
            self.write_stored(data_pos, stored_len, False)
            self.total_bits = stored_len * 8
            self.header.compression_method = 0
        elif stored_len + 4 <= opt_bytes and data_pos is not None:
            self.send_bits(eof, 3)
            self.total_bits = ((self.total_bits + 3 + 7) & ~7) + (stored_len + 4) * 8
            self.write_stored(data_pos, stored_len, True)
        elif fixed_bytes == opt_bytes:
            t = TABLES
            self.send_bits(2 + eof, 3)
            self.compress_block(t.fixed_lit_codes, t.fixed_lit_lens, t.fixed_dist_codes,
                                t.fixed_dist_lens)
            self.total_bits += 3 + self.fixed_bits
        else:
            self.send_bits(4 + eof, 3)
            self.send_all_trees(self.lit.top_symbol + 1, self.dist.top_symbol + 1, n_cl + 1)
            self.compress_block(self.lit.fc, self.lit.dl, self.dist.fc, self.dist.dl)
            self.total_bits += 3 + self.opt_bits

        self.reset_block()
        if last:
            window = self.bufs.window
            window[0:WINDOW_SIZE - 1] = bytes(WINDOW_SIZE - 1)
            self.align_to_byte()
            self.total_bits += 7
        return self.total_bits >> 3

    # -----------------------------------------------------------------------
    # Match finder.

    def start_matching(self):
        bufs = self.bufs
        bufs.head_table[:] = ZERO_TABLE
        (self.good_len, self.lazy_len, self.nice_len,
         self.chain_len) = LEVEL_PARAMS[self.level]
        if self.level <= 2:
            self.header.general_purpose_flags |= 4
        elif self.level >= 8:
            self.header.general_purpose_flags |= 2
        self.cur_pos = 0
        self.block_origin = 0
        self.lookahead = self.read_input(bufs.window, 0, FIRST_READ) & 0xFFFF
        if self.lookahead == 0 or self.lookahead == 0xFFFF:
            self.input_done = True
            self.lookahead = 0
            return
        self.input_done = False
        if self.lookahead < MIN_LOOKAHEAD:
            self.refill_window()
        window = bufs.window
        self.hash_key = ((window[0] << 5) ^ window[1]) & HASH_MASK

    def refill_window(self):
        bufs = self.bufs
        window = bufs.window
        while True:
            free = (WINDOW_SIZE - self.lookahead - self.cur_pos) & 0xFFFF
            if free == 0xFFFF:
                free = 0xFFFE
            elif self.cur_pos >= SLIDE_AT:
                window[0:HALF] = window[HALF:WINDOW_SIZE]
                self.match_pos = (self.match_pos - HALF) & 0xFFFF
                self.cur_pos -= HALF
                self.block_origin -= HALF
                head = bufs.head_table
                head[:] = [v - HALF if v >= HALF else 0 for v in head]
                link = bufs.link_table
                link[:] = [v - HALF if v >= HALF else 0 for v in link]
                free = (free + HALF) & 0xFFFF
            if self.input_done:
                return
            n = self.read_input(window, self.cur_pos + self.lookahead, free) & 0xFFFF
            if n == 0 or n == 0xFFFF:
                self.input_done = True
            else:
                self.lookahead += n
            if self.lookahead >= MIN_LOOKAHEAD or self.input_done:
                return

    def find_longest_match(self, cur, m, prior_len):
        """Longest match longer than prior_len along the chain from m; sets match_pos."""
        w = self.bufs.window
        link = self.bufs.link_table
        chain = self.chain_len
        if prior_len >= self.good_len:
            chain >>= 2
        nice = self.nice_len
        best = prior_len
        limit = cur - MAX_DIST if cur > MAX_DIST else 0
        s0 = w[cur]
        s1 = w[cur + 1]
        e0 = w[cur + best - 1]
        e1 = w[cur + best]
        tail = None
        tail_int = 0
        match_pos = self.match_pos
        while True:
            if w[m + best] == e1 and w[m + best - 1] == e0 and w[m] == s0 and w[m + 1] == s1:
                # Bytes 0 and 1 agree; byte 2 follows from the equal hash key,
                # so the measure starts at byte 3 and ends at byte 257.
                if tail is None:
                    tail = w[cur + 3:cur + MAX_MATCH]
                    tail_int = int.from_bytes(tail, "little")
                cand = w[m + 3:m + MAX_MATCH]
                if cand == tail:
                    length = MAX_MATCH
                else:
                    x = int.from_bytes(cand, "little") ^ tail_int
                    length = 3 + (((x & -x).bit_length() - 1) >> 3)
                if length > best:
                    match_pos = m
                    best = length
                    if best >= nice:
                        break
                    e0 = w[cur + best - 1]
                    e1 = w[cur + best]
            m = link[m & HASH_MASK]
            if m <= limit:
                break
            chain -= 1
            if chain == 0:
                break
        self.match_pos = match_pos
        return best

    def close_block(self, last):
        origin = self.block_origin
        return self.finish_block(origin if origin >= 0 else None, self.cur_pos - origin, last)

    def deflate_greedy(self):
        bufs = self.bufs
        w = bufs.window
        head = bufs.head_table
        link = bufs.link_table
        lazy_len = self.lazy_len
        find = self.find_longest_match
        tally = self.ct_tally
        cur = self.cur_pos
        lookahead = self.lookahead
        key = self.hash_key
        block_origin = self.block_origin
        length = 0
        while lookahead != 0:
            key = ((key << 5) ^ w[cur + 2]) & HASH_MASK
            h = head[key]
            link[cur & HASH_MASK] = h
            head[key] = cur
            if h != 0 and cur - h <= MAX_DIST:
                length = find(cur, h, 2)
                if length > lookahead:
                    length = lookahead
            if length >= MIN_MATCH:
                flush = tally(cur - self.match_pos, length - MIN_MATCH, cur - block_origin)
                lookahead -= length
                if length <= lazy_len:
                    for p in range(cur + 1, cur + length):
                        key = ((key << 5) ^ w[p + 2]) & HASH_MASK
                        link[p & HASH_MASK] = head[key]
                        head[key] = p
                    cur += length
                else:
                    # Long matches are not hashed inside; restart the key after them.
                    cur += length
                    key = ((w[cur] << 5) ^ w[cur + 1]) & HASH_MASK
                length = 0
            else:
                flush = tally(0, w[cur], cur - block_origin)
                lookahead -= 1
                cur += 1
            if flush:
                self.cur_pos = cur
                self.close_block(False)
                block_origin = self.block_origin = cur
            if lookahead < MIN_LOOKAHEAD:
                self.cur_pos = cur
                self.lookahead = lookahead
                self.refill_window()
                cur = self.cur_pos
                lookahead = self.lookahead
                block_origin = self.block_origin
        self.cur_pos = cur
        self.lookahead = lookahead
        self.hash_key = key
        return self.close_block(True)

    def deflate_lazy(self):
        bufs = self.bufs
        w = bufs.window
        head = bufs.head_table
        link = bufs.link_table
        lazy_len = self.lazy_len
        find = self.find_longest_match
        tally = self.ct_tally
        cur = self.cur_pos
        lookahead = self.lookahead
        key = self.hash_key
        block_origin = self.block_origin
        length = 2
        pending = False
        while lookahead != 0:
            key = ((key << 5) ^ w[cur + 2]) & HASH_MASK
            h = head[key]
            link[cur & HASH_MASK] = h
            head[key] = cur
            prior_len = length
            prior_pos = self.match_pos
            length = 2
            if h != 0 and prior_len < lazy_len and cur - h <= MAX_DIST:
                length = find(cur, h, prior_len)
                if length > lookahead:
                    length = lookahead
                if length == MIN_MATCH and cur - self.match_pos > TOO_FAR:
                    length = 2
            if prior_len >= MIN_MATCH and length <= prior_len:
                flush = tally(cur - 1 - prior_pos, prior_len - MIN_MATCH, cur - block_origin)
                lookahead -= prior_len - 1
                for p in range(cur + 1, cur + prior_len - 1):
                    key = ((key << 5) ^ w[p + 2]) & HASH_MASK
                    link[p & HASH_MASK] = head[key]
                    head[key] = p
                cur += prior_len - 1
                pending = False
                length = 2
                if flush:
                    self.cur_pos = cur
                    self.close_block(False)
                    block_origin = self.block_origin = cur
            elif pending:
                if tally(0, w[cur - 1], cur - block_origin):
                    self.cur_pos = cur
                    self.close_block(False)
                    block_origin = self.block_origin = cur
                cur += 1
                lookahead -= 1
            else:
                pending = True
                cur += 1
                lookahead -= 1
            if lookahead < MIN_LOOKAHEAD:
                self.cur_pos = cur
                self.lookahead = lookahead
                self.refill_window()
                cur = self.cur_pos
                lookahead = self.lookahead
                block_origin = self.block_origin
        self.cur_pos = cur
        self.lookahead = lookahead
        self.hash_key = key
        if pending:
            tally(0, w[cur - 1], cur - block_origin)
        return self.close_block(True)

    def run(self):
        self.bit_buf = 0
        self.bit_count = 0
        self.out_len = 0
        self.ct_init()
        self.start_matching()
        if self.level <= 3:
            return self.deflate_greedy()
        return self.deflate_lazy()


ZERO_TABLE = [0] * HALF


def deflate(bufs, level, header, read_input, write_output):
    """Compresses one entry; returns its compressed size in bytes.

    read_input(window, offset, count) places up to count bytes at
    window[offset:] and returns how many it placed (0 at the end);
    write_output(data) appends bytes to the entry's data.
    """
    return Encoder(bufs, level, header, read_input, write_output).run() & 0xFFFFFFFF


def file_reader(f):
    """A ReadInput over a binary file: short only at the end of the file."""

    def read_input(window, offset, count):
        placed = 0
        while placed < count:
            chunk = f.read(count - placed)
            if not chunk:
                break
            window[offset + placed:offset + placed + len(chunk)] = chunk
            placed += len(chunk)
        return placed

    return read_input


def compress_entry(bufs, level, source):
    """Compresses one entry read from a binary file; returns (header, data, size)."""
    header = HeaderInfo()
    pieces = []
    size = deflate(bufs, level, header, file_reader(source), pieces.append)
    return header, b"".join(pieces), size


def main(argv):
    if len(argv) < 4 or len(argv) % 2 != 0:
        print("usage: deflate_ref.py LEVEL INPUT1 OUTPUT1 [INPUT2 OUTPUT2 ...]", file=sys.stderr)
        return 2
    try:
        level = int(argv[1])
    except ValueError:
        level = -1
    if not 1 <= level <= 9:
        print(f"deflate_ref.py: level must be 1..9, not {argv[1]!r}", file=sys.stderr)
        return 2
    bufs = WorkBuffers()
    for i in range(2, len(argv), 2):
        in_path, out_path = argv[i], argv[i + 1]
        try:
            with open(in_path, "rb") as source:
                header, data, size = compress_entry(bufs, level, source)
            with open(out_path, "wb") as out:
                out.write(data)
        except OSError as e:
            print(f"deflate_ref.py: {e}", file=sys.stderr)
            return 1
        print(f"method={header.compression_method} internal={header.internal_attributes} "
              f"flags={header.general_purpose_flags} size={size}")
    sys.stdout.flush()
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
