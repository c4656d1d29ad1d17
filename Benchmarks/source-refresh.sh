#!/bin/bash
# Refresh of Debian's main index (63,440 stanzas) served as a flat repository
# on loopback, as .xz and as .gz: our refresh (a process that downloads,
# decompresses, parses and stores the index into a fresh database, then
# exits) against `apt-get update` of a private APT tree on the same files,
# alternating, each timed as a whole process by /usr/bin/time. Not part of CI.
#
#   Benchmarks/source-refresh.sh [build directory] [runs per variant]
#
# Prints the median wall times, their ratio (goal: ours <= 0.75 x apt's) and
# our peak resident memory (the largest maximum RSS of our runs; goal < 150 MB).
set -euo pipefail
BUILD=${1:-build}
RUNS=${2:-7}
TOOL=$(realpath "$BUILD/Benchmarks/bench_SourceRefreshBench")
[ -x "$TOOL" ] || { echo "build bench_SourceRefreshBench first (ninja -C $BUILD bench_SourceRefreshBench)"; exit 2; }
[ -x /usr/bin/time ] || { echo "no /usr/bin/time: install the time package"; exit 2; }
VARIANTS="xz gz"
source "$(dirname "$0")/debian-index-server.sh"

source "$(dirname "$0")/apt-private-tree.sh"

for v in xz gz; do
    URL="http://127.0.0.1:$PORT/$v/"
    echo "deb [trusted=yes] $URL ./" > "$TREE/etc/apt/sources.list"
    : > "$WORK/apt.times"; : > "$WORK/apt.mem"; : > "$WORK/ours.times"; : > "$WORK/ours.mem"
    for run in $(seq "$RUNS"); do
        rm -rf "$TREE"/var/lib/apt/lists/* "$TREE"/var/cache/apt/*.bin
        mkdir -p "$TREE/var/lib/apt/lists/partial"
        measure "$WORK/apt.times" "$WORK/apt.mem" env APT_CONFIG="$TREE/apt.conf" LC_ALL=C apt-get update -qq
        rm -rf "$WORK/data"
        measure "$WORK/ours.times" "$WORK/ours.mem" "$TOOL" "$URL" "$WORK/data" 1
        echo "  $v run $run: apt $(tail -1 "$WORK/apt.times") s, ours $(tail -1 "$WORK/ours.times") s, $(( $(tail -1 "$WORK/ours.mem") / 1024 )) MB"
    done
    apt=$(median < "$WORK/apt.times"); ours=$(median < "$WORK/ours.times"); mem=$(sort -g "$WORK/ours.mem" | tail -1)
    printf '%s: apt-get update %.2f s, our refresh %.2f s (medians of %d), ratio %.2f (goal <= 0.75), our peak RSS %d MB (goal < 150)\n' \
        "$v" "$apt" "$ours" "$RUNS" "$(awk -v a="$ours" -v b="$apt" 'BEGIN { print a / b }')" "$((mem / 1024))"
done
