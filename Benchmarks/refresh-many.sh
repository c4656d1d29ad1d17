#!/bin/bash
# Refresh of many sources at once: Debian's main index (63,440 stanzas) split
# at stanza boundaries into N flat repositories (Packages.xz and Release
# each), served on loopback, for N = 1, 5, 20 and 60. Our side is a process
# that prepares the private APT tree on a fresh database, adds the N sources
# without refreshing them, refreshes all of them through the pipeline and
# waits until the pipeline is idle and the caches are rebuilt
# (bench_RefreshManyBench); apt's side is `apt-get update` of a private tree
# listing the same N sources with its lists removed. Alternating, each timed
# as a whole process by /usr/bin/time. Then the unchanged refresh of the
# largest N: our process again on its populated database (every source
# answers 304) against `apt-get update` with its lists in place. Not part of CI.
#
#   Benchmarks/refresh-many.sh [build directory] [runs]      (default: build 3)
#
# Prints per N the median wall times, their ratio (goal at N = 20 and 60:
# ours <= 0.75 x apt's), our largest peak RSS (goal at 60: < 200 MB), and the
# largest database and write-ahead log sizes our process saw at its end (goal:
# the log no larger than the database). Fails, printing no figure, when a
# refresh fails or leaves no package.
set -euo pipefail
BUILD=${1:-build}
RUNS=${2:-3}
COUNTS=${REFRESH_MANY_COUNTS:-"1 5 20 60"}
TOOL=$(realpath "$BUILD/Benchmarks/bench_RefreshManyBench")
[ -x "$TOOL" ] || { echo "build bench_RefreshManyBench first (ninja -C $BUILD bench_RefreshManyBench)"; exit 2; }
[ -x /usr/bin/time ] || { echo "no /usr/bin/time: install the time package"; exit 2; }
VARIANTS=""
source "$(dirname "$0")/debian-index-server.sh"

# Splits the index into N repositories of consecutive stanzas, about the same number each.
layout() {
    local n=$1 dir=$WORK/repo/many-$1
    mkdir -p "$dir"
    awk -v n="$n" -v dir="$dir" -v total="$(grep -c '^Package:' "$WORK/Packages")" '
        BEGIN { RS = ""; ORS = "\n\n"; per = int((total + n - 1) / n) }
        { part = int((NR - 1) / per); f = dir "/" part "/Packages"; if (part != last) { close(prev); system("mkdir -p " dir "/" part) } print > f; prev = f; last = part }
    ' last=-1 "$WORK/Packages"
    for part in $(seq 0 $((n - 1))); do echo "$dir/$part"; done | xargs -P 4 -I{} sh -c '
        cd "{}" && xz -6 -T1 -k Packages && apt-ftparchive release . > ../Release.$$ && mv ../Release.$$ Release && rm Packages'
    local stanzas=0
    for part in $(seq 0 $((n - 1))); do
        [ -s "$dir/$part/Packages.xz" ] || { echo "layout $n: part $part is empty"; exit 1; }
        stanzas=$((stanzas + $(xz -dc "$dir/$part/Packages.xz" | grep -c '^Package:')))
    done
    [ "$stanzas" -eq "$(grep -c '^Package:' "$WORK/Packages")" ] || { echo "layout $n: $stanzas stanzas"; exit 1; }
}

source "$(dirname "$0")/apt-private-tree.sh"

# From our tool's JSON line: the named number.
field() { sed -n "s/.*\"$1\": \([0-9.]*\).*/\1/p" "$WORK/out"; }
APT_UPDATE=(env APT_CONFIG="$TREE/apt.conf" LC_ALL=C apt-get update -qq)

TABLE="| sources | ours | apt-get update | ratio | our peak RSS | database | WAL after |
|---|---|---|---|---|---|---|"
for n in $COUNTS; do
    layout "$n"
    locations=()
    : > "$TREE/etc/apt/sources.list"
    for part in $(seq 0 $((n - 1))); do
        url="http://127.0.0.1:$PORT/many-$n/$part/"
        locations+=("$url")
        echo "deb [trusted=yes] $url ./" >> "$TREE/etc/apt/sources.list"
    done
    : > "$WORK/apt.times"; : > "$WORK/apt.mem"; : > "$WORK/ours.times"; : > "$WORK/ours.mem"
    : > "$WORK/ours.db"; : > "$WORK/ours.wal"
    for run in $(seq "$RUNS"); do
        rm -rf "$TREE"/var/lib/apt/lists/* "$TREE"/var/cache/apt/*.bin
        mkdir -p "$TREE/var/lib/apt/lists/partial"
        measure "$WORK/apt.times" "$WORK/apt.mem" "${APT_UPDATE[@]}"
        rm -rf "$WORK/data" "$WORK/target"
        measure "$WORK/ours.times" "$WORK/ours.mem" "$TOOL" "$WORK/data" "$WORK/target" "${locations[@]}"
        [ "$(field packages)" -gt 0 ] || { echo "no package stored"; exit 1; }
        field database_bytes >> "$WORK/ours.db"; field wal_bytes >> "$WORK/ours.wal"
        echo "  $n sources, run $run: apt $(tail -1 "$WORK/apt.times") s, ours $(tail -1 "$WORK/ours.times") s" \
             "($(field seconds) s inside), $(( $(tail -1 "$WORK/ours.mem") / 1024 )) MB, $(field packages) packages," \
             "WAL $(( $(field wal_bytes) / 1048576 )) MB of a $(( $(field database_bytes) / 1048576 )) MB database"
    done
    apt=$(median < "$WORK/apt.times"); ours=$(median < "$WORK/ours.times"); mem=$(sort -g "$WORK/ours.mem" | tail -1)
    TABLE+=$(printf '\n| %d | %.2f s | %.2f s | %.2f | %d MB | %d MB | %d MB |' "$n" "$ours" "$apt" \
        "$(awk -v a="$ours" -v b="$apt" 'BEGIN { print a / b }')" "$((mem / 1024))" \
        "$(( $(sort -g "$WORK/ours.db" | tail -1) / 1048576 ))" "$(( $(sort -g "$WORK/ours.wal" | tail -1) / 1048576 ))")
    last=$n
done

# Unchanged: the last layout again, our database and apt's lists in place.
: > "$WORK/apt.times"; : > "$WORK/apt.mem"; : > "$WORK/ours.times"; : > "$WORK/ours.mem"
for run in $(seq "$RUNS"); do
    measure "$WORK/apt.times" "$WORK/apt.mem" "${APT_UPDATE[@]}"
    measure "$WORK/ours.times" "$WORK/ours.mem" "$TOOL" "$WORK/data" "$WORK/target" "${locations[@]}"
    echo "  unchanged $last sources, run $run: apt $(tail -1 "$WORK/apt.times") s, ours $(tail -1 "$WORK/ours.times") s" \
         "($(field seconds) s inside, caches rebuilt: $(sed -n 's/.*"rebuilt": \([a-z]*\).*/\1/p' "$WORK/out"))"
done
apt=$(median < "$WORK/apt.times"); ours=$(median < "$WORK/ours.times"); mem=$(sort -g "$WORK/ours.mem" | tail -1)
TABLE+=$(printf '\n| %d unchanged (304) | %.2f s | %.2f s | %.2f | %d MB | | |' "$last" "$ours" "$apt" \
    "$(awk -v a="$ours" -v b="$apt" 'BEGIN { print a / b }')" "$((mem / 1024))")
echo
echo "Medians of $RUNS alternating runs, whole processes:"
echo "$TABLE"
