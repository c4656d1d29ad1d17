#!/bin/bash
# Each hostile 4 MB depiction of bench_DepictionParsingBench (BM_Hostile4MB) in
# a process of its own: its time per reading and the process's peak memory
# (/usr/bin/time), against the goal of one depiction: within 1 s and 250 MB
# more than the process held before (the text itself and the program).
#
#   Benchmarks/hostile-depictions.sh [build directory]
#
# Exits 1 when a case measured nothing (the text gave nothing) or missed the goal.
set -euo pipefail
BUILD=${1:-build}
TOOL=$(realpath "$BUILD/Benchmarks/bench_DepictionParsingBench")
[ -x "$TOOL" ] || { echo "build bench_DepictionParsingBench first (ninja -C $BUILD bench_DepictionParsingBench)"; exit 2; }
OUT=$(mktemp)
trap 'rm -f "$OUT"' EXIT
# What a process that only makes the text holds: the baseline of the memory goal.
BASE_KB=$(/usr/bin/time -f %M "$TOOL" --benchmark_filter=NONE 2>&1 >/dev/null | tail -1)
status=0
printf "%-48s %10s %10s\n" "text (4 MiB)" "ms" "peak MB"
for n in $(seq 0 23); do
    if ! /usr/bin/time -f %M -o "$OUT.rss" "$TOOL" --benchmark_filter="BM_Hostile4MB/$n\$" --benchmark_format=csv \
        --benchmark_min_time=1 >"$OUT" 2>/dev/null; then
        echo "case $n failed"; status=1; continue
    fi
    row=$(grep "^\"BM_Hostile4MB/$n\"" "$OUT" || true)
    if [ -z "$row" ] || echo "$row" | grep -q "error_occurred\|true,\"the text"; then
        echo "case $n measured nothing: $row"; status=1; continue
    fi
    ms=$(echo "$row" | awk -F, '{print $3}')
    label=$(echo "$row" | sed 's/.*,"\([^"]*\)",.*/\1/')
    peak_kb=$(tail -1 "$OUT.rss")
    printf "%-48s %10.0f %10.0f\n" "$label" "$ms" "$((peak_kb / 1024))"
    if awk -v ms="$ms" 'BEGIN { exit !(ms > 1000) }' || [ $((peak_kb - BASE_KB)) -gt $((250 * 1024)) ]; then
        echo "  ^ misses the goal"; status=1
    fi
done
rm -f "$OUT.rss"
exit $status
