#!/usr/bin/env bash
# Builds the optimised host build, makes the reference payloads and runs every benchmark.
# Usage: bench/run.sh [REPETITIONS]   (default 7; medians are reported)
set -euo pipefail
cd "$(dirname "$0")/.."
reps=${1:-7}
cmake --preset bench >/dev/null
cmake --build --preset bench -j "$(nproc)" --target brimsole-pack inflate_bench inflate_memory
out=build/bench/reference
mkdir -p "$out"
[ -f "$out/mixed.payload" ] && [ -f "$out/text.payload" ] ||
  /usr/bin/python3 bench/make_reference_payloads.py build/bench/pack/brimsole-pack "$out"

echo "== inflation time (medians of $reps runs)"
BRIMSOLE_BENCH_DIR="$out" build/bench/bench/inflate_bench --benchmark_repetitions="$reps" \
  --benchmark_report_aggregates_only=true --benchmark_out="$out/inflate.json" --benchmark_out_format=json \
  >/dev/null
/usr/bin/python3 - "$out/inflate.json" <<'PY'
import json, sys
runs = {b["run_name"]: b["real_time"] for b in json.load(open(sys.argv[1]))["benchmarks"]
        if b.get("aggregate_name") == "median"}
for payload in ("mixed", "text"):
    ours, limit = runs[f"BM_run_inflate/{payload}"], runs[f"BM_uncompress_limit/{payload}"]
    with_read = runs[f"BM_uncompress_limit/{payload}_read"]
    print(f"{payload:6} run_inflate {ours:7.2f} ms | uncompress+write {limit:7.2f} ms, ratio {ours / limit:.3f}"
          f" | read+uncompress+write {with_read:7.2f} ms, ratio {ours / with_read:.3f}")
PY

echo "== peak memory of run_inflate"
for payload in "$out/mixed.payload" "$out/text.payload" "$out/small.payload"; do
  [ -f "$payload" ] || build/bench/pack/brimsole-pack payload -o "$payload" examples/readme.txt >/dev/null
  build/bench/bench/inflate_memory "$payload" "$out/memory.out" | tail -1
done

echo "== the whole worker on the simulated Windows beside the inflater alone (medians of $reps runs)"
BRIMSOLE_BENCH_DIR="$out" build/bench/bench/worker_bench --benchmark_repetitions="$reps" \
  --benchmark_report_aggregates_only=true --benchmark_out="$out/worker.json" --benchmark_out_format=json \
  >/dev/null
/usr/bin/python3 - "$out/worker.json" <<'PY'
import json, sys
runs = {b["run_name"]: b for b in json.load(open(sys.argv[1]))["benchmarks"] if b.get("aggregate_name") == "median"}
for payload in ("mixed", "text"):
    worker, alone = runs[f"BM_worker/{payload}"], runs[f"BM_inflate_alone/{payload}"]
    print(f"{payload:6} worker {worker['real_time']:7.2f} ms | inflater alone {alone['real_time']:7.2f} ms"
          f" | ratio {worker['real_time'] / alone['real_time']:.3f} | LocalAlloc peak {worker['local_peak_bytes']:.0f}"
          f" bytes (merged file + table {worker['merged_plus_table']:.0f})")
PY
