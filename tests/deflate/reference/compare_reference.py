#!/usr/bin/env python3
"""Compares the C++ deflate_tool with the Python reference encoder, byte for byte.

Usage: compare_reference.py PATH_TO_deflate_tool

Builds a fixed corpus, runs deflate_ref.py and the tool on every input at the
levels listed for it (every level 1..9 is covered by several inputs), plus one
run of several entries with shared work buffers, and compares each entry's
data and printed line.  Every reference output is also decoded with zlib and
checked against its input.  When the tool does not exist, only the
reference's own round trips are checked.  Exits 1 on any mismatch.
"""

import os
import subprocess
import sys
import tempfile
import time
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import corpus  # noqa: E402
import stream_parse  # noqa: E402

REF = os.path.join(HERE, "deflate_ref.py")
ALL = tuple(range(1, 10))
TOOL_TIMEOUT = 120


def build_cases():
    """(name, data, levels) for single entries; the heaviest searches skip some levels."""
    r = corpus.rng(20)
    limit_a = r.randbytes(32_506)
    limit_b = r.randbytes(32_507)
    return [
        ("empty", b"", ALL),
        ("one_byte", b"Q", ALL),
        ("abcabc", b"abcabc", ALL),
        ("run_70000", b"a" * 70_000, ALL),
        ("mixed_32768", corpus.mixed(32_768, 21), ALL),
        ("mixed_65537", corpus.mixed(65_537, 22), ALL),
        ("random_10000", corpus.random_bytes(10_000, 23), ALL),
        ("random_100k", corpus.random_bytes(100_000, 24), (1, 3, 4, 9)),
        ("literal_only_40k", corpus.literal_only_skewed(40_000, 25), ALL),
        ("text_150k", corpus.english_text(150_000, 26), ALL),
        ("db_pages_200k", corpus.database_pages(200_000, 27), ALL),
        ("long_chains_120k", corpus.long_chains(120_000, 28), ALL),
        ("repeats_near_4096", corpus.repeats_near_too_far(29), ALL),
        ("early_block_ends", corpus.early_block_ends(150_000, 30), ALL),
        ("lazy_thresholds", corpus.lazy_thresholds(35), ALL),
        ("chain_thresholds", corpus.chain_thresholds(39), (5, 6, 7, 8, 9)),
        ("nice_edge", corpus.nice_edge(40), ALL),
        ("early_end_edges", corpus.early_end_edges(36), (2, 3, 4, 9)),
        ("whole_entry_tie", corpus.whole_entry_tie(), ALL),
        ("stored_block_tie", corpus.stored_block_tie(37), (1, 3, 6)),
        ("text_binary_tie", corpus.text_binary_tie(38), ALL),
        ("distance_limit", limit_a + limit_a[:700] + limit_b + limit_b[:700], (1, 7)),
    ]


def build_run():
    """Entries compressed one after another with the same work buffers."""
    first, second = corpus.window_tail_pair(31)
    return [
        ("run_tail_first", first),
        ("run_tail_second", second),
        ("run_text", corpus.english_text(30_000, 32)),
        ("run_empty", b""),
        ("run_abcabc", b"abcabc"),
        ("run_mixed", corpus.mixed(70_000, 33)),
        ("run_random", corpus.random_bytes(5_000, 34)),
    ]


class Failures:
    def __init__(self):
        self.count = 0

    def report(self, what):
        self.count += 1
        print("MISMATCH " + what, flush=True)


def run_encoder(argv_head, level, pairs):
    """Runs one encoder over (input, output) pairs; returns (printed lines, error or None)."""
    argv = list(argv_head) + [str(level)]
    for in_path, out_path in pairs:
        argv += [in_path, out_path]
    try:
        proc = subprocess.run(argv, capture_output=True, timeout=TOOL_TIMEOUT)
    except subprocess.TimeoutExpired:
        return [], "timed out"
    except OSError as e:
        return [], str(e)
    lines = proc.stdout.decode("ascii", "replace").splitlines()
    if proc.returncode != 0:
        return lines, "exit status %d: %s" % (proc.returncode,
                                              proc.stderr.decode("utf-8", "replace").strip())
    return lines, None


def check_round_trip(name, level, data, line, out, failures):
    fields = dict(f.split("=", 1) for f in line.split())
    if int(fields.get("size", -1)) != len(out):
        failures.report("%s level %d: reference size %s but %d bytes written"
                        % (name, level, fields.get("size"), len(out)))
    try:
        back = zlib.decompress(out, -15) if fields.get("method") == "8" else out
    except zlib.error as e:
        failures.report("%s level %d: reference output does not inflate: %s" % (name, level, e))
        return
    if back != data:
        failures.report("%s level %d: reference output does not give back the input"
                        % (name, level))


def first_difference(a, b):
    n = min(len(a), len(b))
    for i in range(0, n, 4096):
        if a[i:i + 4096] != b[i:i + 4096]:
            for j in range(i, min(i + 4096, n)):
                if a[j] != b[j]:
                    return j
    return n


def describe_divergence(ref_out, tool_out, line_ref, line_tool):
    """Where the two streams first part: block and symbol, when both can be parsed."""
    if "method=0" in (line_ref + line_tool):
        return "one of them stored the entry raw"
    try:
        ref_blocks, _ = stream_parse.parse(ref_out)
    except stream_parse.StreamError as e:
        return "reference stream does not parse: %s" % e
    try:
        tool_blocks, _ = stream_parse.parse(tool_out)
    except stream_parse.StreamError as e:
        return "tool stream does not parse: %s" % e
    for i, (a, b) in enumerate(zip(ref_blocks, tool_blocks)):
        if (a.kind, a.final) != (b.kind, b.final):
            return "block %d: reference type %d final %d, tool type %d final %d" % (
                i, a.kind, a.final, b.kind, b.final)
        for k, (x, y) in enumerate(zip(a.symbols, b.symbols)):
            if x != y:
                return "block %d symbol %d: reference %r, tool %r" % (i, k, x, y)
        if len(a.symbols) != len(b.symbols) or a.stored_len != b.stored_len:
            return "block %d ends after %d symbols (reference) / %d (tool)" % (
                i, len(a.symbols), len(b.symbols))
        if (a.hlit, a.hdist, a.hclen, a.lit_lens, a.dist_lens) != (
                b.hlit, b.hdist, b.hclen, b.lit_lens, b.dist_lens):
            return ("block %d: same symbols, different code lengths (reference HLIT %s HDIST %s "
                    "HCLEN %s, tool %s %s %s)" % (i, a.hlit, a.hdist, a.hclen, b.hlit, b.hdist,
                                                  b.hclen))
    return "reference has %d blocks, tool %d" % (len(ref_blocks), len(tool_blocks))


def compare_run(work, tag, entries, level, tool, failures):
    """One invocation of each encoder over the entries; returns True when the tool ran."""
    in_paths = []
    for name, data in entries:
        path = os.path.join(work, name + ".in")
        if not os.path.exists(path):
            with open(path, "wb") as f:
                f.write(data)
        in_paths.append(path)
    ref_pairs = [(p, os.path.join(work, "%s.%d.ref" % (n, level)))
                 for p, (n, _) in zip(in_paths, entries)]
    ref_lines, err = run_encoder([sys.executable, REF], level, ref_pairs)
    if err or len(ref_lines) != len(entries):
        failures.report("%s level %d: reference failed: %s" % (tag, level, err or ref_lines))
        return False
    ref_outs = []
    for (name, data), (_, out_path), line in zip(entries, ref_pairs, ref_lines):
        with open(out_path, "rb") as f:
            ref_outs.append(f.read())
        check_round_trip(name, level, data, line, ref_outs[-1], failures)
    if tool is None:
        return False

    tool_pairs = [(p, os.path.join(work, "%s.%d.tool" % (n, level)))
                  for p, (n, _) in zip(in_paths, entries)]
    tool_lines, err = run_encoder([tool], level, tool_pairs)
    if err:
        failures.report("%s level %d: deflate_tool failed: %s" % (tag, level, err))
        return True
    if len(tool_lines) != len(entries):
        failures.report("%s level %d: deflate_tool printed %d lines for %d entries"
                        % (tag, level, len(tool_lines), len(entries)))
    for i, (name, _) in enumerate(entries):
        line_ref = ref_lines[i].strip()
        line_tool = tool_lines[i].strip() if i < len(tool_lines) else "<none>"
        try:
            with open(tool_pairs[i][1], "rb") as f:
                tool_out = f.read()
        except OSError:
            failures.report("%s level %d: deflate_tool wrote no output" % (name, level))
            continue
        if line_ref != line_tool:
            failures.report("%s level %d: reference printed '%s', deflate_tool '%s'"
                            % (name, level, line_ref, line_tool))
        if tool_out != ref_outs[i]:
            offset = first_difference(ref_outs[i], tool_out)
            failures.report("%s level %d: outputs differ first at byte %d (reference %d bytes, "
                            "deflate_tool %d bytes); %s"
                            % (name, level, offset, len(ref_outs[i]), len(tool_out),
                               describe_divergence(ref_outs[i], tool_out, line_ref, line_tool)))
    return True


def main(argv):
    if len(argv) != 2:
        print("usage: compare_reference.py PATH_TO_deflate_tool", file=sys.stderr)
        return 2
    tool = os.path.abspath(argv[1])
    if not os.path.isfile(tool):
        print("deflate_tool not found at %s: checking the reference's own round trips only"
              % tool, flush=True)
        tool = None
    failures = Failures()
    started = time.monotonic()
    compared = 0
    with tempfile.TemporaryDirectory(prefix="deflate_compare_") as work:
        for name, data, levels in build_cases():
            t0 = time.monotonic()
            for level in levels:
                compared += compare_run(work, name, [(name, data)], level, tool, failures)
            print("%-20s %7d bytes  levels %s  %.1fs"
                  % (name, len(data), "".join(map(str, levels)), time.monotonic() - t0),
                  flush=True)
        entries = build_run()
        t0 = time.monotonic()
        for level in ALL:
            compared += compare_run(work, "shared-buffer run", entries, level, tool, failures)
        print("%-20s %7d entries levels %s  %.1fs"
              % ("shared-buffer run", len(entries), "".join(map(str, ALL)),
                 time.monotonic() - t0), flush=True)
    elapsed = time.monotonic() - started
    what = ("%d runs compared with deflate_tool" % compared if tool
            else "reference round trips only")
    if failures.count:
        print("FAILED: %d mismatches (%s, %.0fs)" % (failures.count, what, elapsed))
        return 1
    print("OK: %s, %.0fs" % (what, elapsed))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
