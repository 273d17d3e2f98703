#!/usr/bin/env bash
# Times the folder search against find on a generated tree of 100,000 entries
# (a few hundred folders, about 3 % of the names matching *.mdf), all in one
# benchmark run with the runs interleaved: our scan with Messages False, our
# scan with Messages True inside a Qt application, and find -iname '*.mdf'.
# Prints the medians and checks the targets: the scan no slower than 1.5x
# find, message processing adding no more than 30 %.
#
# usage: bench/search_vs_find.sh [BUILD_DIR]     (default: build)
# env:   TW_SEARCH_TREE=DIR  use (or create and keep) this tree instead of a
#                            temporary one
#        REPS=N              repetitions per benchmark (default 9)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
reps=${REPS:-9}

cmake --build "$build" --target search_bench >/dev/null
bench="$build/bin/search_bench"

if [ -n "${TW_SEARCH_TREE:-}" ]; then
  tree=$TW_SEARCH_TREE
else
  scratch=$(mktemp -d /tmp/tw-search-bench-XXXXXX)
  trap 'rm -rf "$scratch"' EXIT
  tree=$scratch/tree
fi
if [ ! -d "$tree" ]; then
  echo "Generating $tree ..."
  python3 bench/make_search_tree.py "$tree"
fi

entries=$(($(find "$tree" | wc -l) - 1))
folders=$(($(find "$tree" -type d | wc -l) - 1))
matches=$(find "$tree" -iname '*.mdf' | wc -l)
echo "Tree: $entries entries, $folders folders, $matches matching *.mdf"

json=$(mktemp /tmp/tw-search-bench-XXXXXX.json)
trap 'rm -f "$json"; [ -n "${scratch:-}" ] && rm -rf "$scratch"' EXIT
TW_SEARCH_TREE="$tree" "$bench" --benchmark_filter='^Tree/' \
  --benchmark_repetitions="$reps" --benchmark_enable_random_interleaving=true \
  --benchmark_report_aggregates_only=true --benchmark_format=json >"$json"

python3 - "$json" "$matches" <<'PY'
import json, sys
data = json.load(open(sys.argv[1]))
matches = int(sys.argv[2])
median = {}
for b in data["benchmarks"]:
    if b.get("aggregate_name") == "median":
        median[b["run_name"].split("/")[1]] = b
find, plain, qt = (median[k] for k in ("find_iname", "scan_messages_false", "scan_messages_true_qt"))
for name, b in (("find -iname '*.mdf'", find), ("scan, Messages False", plain),
                ("scan, Messages True (Qt)", qt)):
    print(f"{name:28s} wall {b['real_time']:8.1f} ms   cpu {b['cpu_ms']:8.1f} ms")
ok = True
for b in (plain, qt):
    if round(b["found"]) != matches:
        print(f"MISMATCH: the scan found {b['found']:.0f}, find {matches}")
        ok = False
print(f"timer events delivered during a Messages True scan: {qt['timer_ticks']:.0f}")
for label, num, den, limit in (
        ("scan / find", plain, find, 1.5),
        ("Messages True / Messages False", qt, plain, 1.3)):
    wall = num["real_time"] / den["real_time"]
    cpu = num["cpu_ms"] / den["cpu_ms"]
    verdict = "ok" if wall <= limit else "OVER TARGET"
    print(f"{label:32s} wall {wall:5.2f}x  cpu {cpu:5.2f}x  (target <= {limit}x wall): {verdict}")
    ok = ok and wall <= limit
sys.exit(0 if ok else 1)
PY
