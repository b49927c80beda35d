#!/usr/bin/env bash
# Whole-report figures: the median wall time of xrreport on three example machines and the
# peak resident memory of every example, each beside its target.
#   bench/report.sh [BUILD_DIR]   (default: build; builds it first)
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build}
scripts/build "$dir"
xrreport="$dir/bin/xrreport"
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

# name, machine, target in seconds
timed=(
  "serial modem answering at once|examples/serial-pellan|1.030"
  "Torvin family with preferences|examples/torvin-prefs|0.030"
  "no modem|examples/no-modem|0.030"
)

status=0
printf '%-34s %12s %12s\n' "report" "median" "target"
for row in "${timed[@]}"; do
  IFS='|' read -r name machine target <<<"$row"
  hyperfine --shell=none --style none --warmup 2 --min-runs 10 --export-json "$out/t.json" \
    "$xrreport --format json --machine $machine" >/dev/null
  median=$(python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["results"][0]["median"])' "$out/t.json")
  verdict=$(python3 -c 'import sys; print("ok" if float(sys.argv[1]) <= float(sys.argv[2]) else "OVER")' "$median" "$target")
  [ "$verdict" = ok ] || status=1
  printf '%-34s %10.1f ms %9.0f ms  %s\n' "$name" "$(python3 -c "print($median*1000)")" \
    "$(python3 -c "print($target*1000)")" "$verdict"
done

# Peak resident set of the xrreport process (the scripted modem runs inside it, the tools it
# launches do not count). GNU time launches it from a small process of its own: the peak a
# process reports includes what it held before exec.
echo
printf '%-34s %12s %12s\n' "example" "peak RSS" "target"
for machine in examples/*/; do
  machine=${machine%/}
  [ -f "$machine/registry.json" ] || continue
  kb=$(/usr/bin/time -f '%M' "$xrreport" --format json --machine "$machine" 2>&1 >/dev/null | tail -n 1)
  verdict=ok
  [ "$kb" -le $((15 * 1024)) ] || { verdict=OVER; status=1; }
  printf '%-34s %9.1f MB %9d MB  %s\n' "$(basename "$machine")" "$(python3 -c "print($kb/1024)")" 15 "$verdict"
done
exit $status
