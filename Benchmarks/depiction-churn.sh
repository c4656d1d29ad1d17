#!/bin/bash
# Hostile package pages opened and left fast: one run of
# bench_DepictionChurnBench per set of pages (each in a process of its own,
# so its memory is its own), offscreen.
#
#   Benchmarks/depiction-churn.sh [build directory] [pages] [set...]
#
# Default: 10 pages of each set (pre, addresses; see the tool). Prints one row
# per set and whether its goals hold. Exits 1 when a set measured nothing (a
# page never opened, or no page got its depiction), 2 when a goal was missed.
set -uo pipefail
BUILD=${1:-build}
PAGES=${2:-10}
shift 2 || shift $#
TOOL=$(realpath "$BUILD/Benchmarks/bench_DepictionChurnBench")
[ -x "$TOOL" ] || { echo "build bench_DepictionChurnBench first (ninja -C $BUILD bench_DepictionChurnBench)"; exit 2; }
SETS=("$@")
[ ${#SETS[@]} -gt 0 ] || SETS=(pre addresses)
ERRORS=$(mktemp)
trap 'rm -f "$ERRORS"' EXIT
status=0
header=1
for set in "${SETS[@]}"; do
    out=$(QT_QPA_PLATFORM=offscreen "$TOOL" "$set" "$PAGES" 2>"$ERRORS")
    code=$?
    if [ $header = 1 ] && [ $code -ne 1 ]; then echo "$out" | head -1; header=0; fi
    if [ $code -eq 1 ] || [ -z "$out" ]; then
        echo "$set measured nothing (status $code): ${out:-$(tail -3 "$ERRORS")}"
        status=1
        continue
    fi
    echo "$out" | tail -n +2
    [ $code -ne 0 ] && [ $status -eq 0 ] && status=2
done
exit $status
