#!/usr/bin/env bash
# The whole `xrreport --format json` process on the empty machine profile: start, plug-in
# load, report, exit. Prints the median against its target (20 ms).
# bench/xrreport.sh [BUILD_DIR [MACHINE_PROFILE]]
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build}
machine=${2:-examples/empty}
target_ms=20
scripts/build "$dir"
results=$(mktemp)
trap 'rm -f "$results"' EXIT
hyperfine --shell=none --warmup 20 --runs 300 --style basic --export-json "$results" \
  "$dir/bin/xrreport --machine $machine --format json" >&2
python3 - "$results" "$target_ms" <<'PY'
import json, sys
result = json.load(open(sys.argv[1]))["results"][0]
target = float(sys.argv[2])
median = result["median"] * 1000
print(f"xrreport --format json, {result['command'].split('--machine ')[1].split()[0]}: "
      f"median {median:.2f} ms, mean {result['mean'] * 1000:.2f} ms, "
      f"min {result['min'] * 1000:.2f} ms, max {result['max'] * 1000:.2f} ms "
      f"over {len(result['times'])} runs; target median <= {target:.0f} ms: "
      f"{'met' if median <= target else 'MISSED'}")
sys.exit(0 if median <= target else 1)
PY
