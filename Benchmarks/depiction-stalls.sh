#!/bin/bash
# The window's longest stall while a package page reads a 4 MiB hostile
# description: one run of bench_DetailsTextStallBench per shape (each in a
# process of its own, so its peak memory is its own), offscreen.
#
#   Benchmarks/depiction-stalls.sh [build directory] [shape...]
#
# Prints one row per shape (see the tool). Exits 1 when a shape measured
# nothing (its text never showed), 2 when one stalled the window past 100 ms.
set -uo pipefail
BUILD=${1:-build}
shift || true
TOOL=$(realpath "$BUILD/Benchmarks/bench_DetailsTextStallBench")
[ -x "$TOOL" ] || { echo "build bench_DetailsTextStallBench first (ninja -C $BUILD bench_DetailsTextStallBench)"; exit 2; }
SHAPES=("$@")
[ ${#SHAPES[@]} -gt 0 ] || SHAPES=(lines paragraphs one-line nested html-paragraphs table)
ERRORS=$(mktemp)
trap 'rm -f "$ERRORS"' EXIT
status=0
header=1
for shape in "${SHAPES[@]}"; do
    out=$(QT_QPA_PLATFORM=offscreen "$TOOL" "$shape" 2>"$ERRORS")
    code=$?
    if [ $header = 1 ]; then echo "$out" | head -1; header=0; fi
    row=$(echo "$out" | tail -n +2)
    [ -n "$row" ] || row="$shape ended with status $code before measuring: $(tail -3 "$ERRORS")"
    echo "$row"
    if [ $code -eq 1 ] || [ -z "$(echo "$out" | tail -n +2)" ]; then status=1
    elif [ $code -ne 0 ] && [ $status -eq 0 ]; then status=2; fi
done
exit $status
