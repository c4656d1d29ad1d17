#!/bin/bash
# Peak memory while refusing decompression bombs: flat repositories on
# loopback whose Packages.xz is a 300 KB xz file of a 2 GiB stream, refreshed
# through the pipeline by bench_RefreshManyBench (which checks that each bomb
# fails with the error of a failed decompression, and that a good source
# beside them still stores its packages), the whole process measured by
# /usr/bin/time. The good source holds the first 2,000 stanzas of Debian's
# main index.
#
#   Benchmarks/decompression-bomb.sh [build directory] [runs]      (default: build 3)
#
# Three streams (BOMB_KINDS to choose): "line", one line of 2 GiB without a
# line end; "stanza", 2 GiB of field lines without the blank line that ends a
# stanza; "stanzas", 2 GiB of one small stanza repeated. Each is refreshed
# alone, four at once, and four at once beside the good source. Prints the
# median of the peak resident memories (goal: under 150 MB everywhere).
# Not part of CI.
set -euo pipefail
BUILD=${1:-build}
RUNS=${2:-3}
KINDS=${BOMB_KINDS:-"line stanza stanzas"}
TOOL=$(realpath "$BUILD/Benchmarks/bench_RefreshManyBench")
[ -x "$TOOL" ] || { echo "build bench_RefreshManyBench first (ninja -C $BUILD bench_RefreshManyBench)"; exit 2; }
[ -x /usr/bin/time ] || { echo "no /usr/bin/time: install the time package"; exit 2; }
VARIANTS=""
source "$(dirname "$0")/debian-index-server.sh"
source "$(dirname "$0")/apt-private-tree.sh"  # median, measure

# The uncompressed index of a kind of bomb, on standard output.
STREAM=2147483648
stream() {
    case $1 in
        line) head -c $STREAM /dev/zero | tr '\0' a ;;
        # yes ends on the closed pipe: not a failure.
        stanza) { yes 'Description: a line of a stanza that never ends' || true; } | head -c $STREAM ;;
        stanzas) { yes $'Package: bomb\nVersion: 1.0\nArchitecture: all\nDescription: x\n' || true; } | head -c $STREAM ;;
        *) echo "unknown kind $1" >&2; return 2 ;;
    esac
}
# A flat repository of the index on standard input, compressed by xz, with a Release naming it.
repository() {
    mkdir -p "$1"
    xz -6 -T1 > "$1/Packages.xz"
    (cd "$1" && apt-ftparchive release . > ../Release.$$ && mv ../Release.$$ Release)
}
GOOD="http://127.0.0.1:$PORT/good/"
awk 'BEGIN { RS = ""; ORS = "\n\n" } NR <= 2000' "$WORK/Packages" | repository "$WORK/repo/good"
for kind in $KINDS; do
    stream "$kind" | repository "$WORK/repo/$kind-1"
    for n in 2 3 4; do
        mkdir -p "$WORK/repo/$kind-$n"
        cp "$WORK/repo/$kind-1/"{Packages.xz,Release} "$WORK/repo/$kind-$n/"
    done
    echo "$kind: Packages.xz of $(stat -c %s "$WORK/repo/$kind-1/Packages.xz") bytes for a stream of $STREAM bytes"
done

printf '\n| stream | bombs | beside a good source | peak RSS (median of %d) | runs |\n|---|---|---|---|---|\n' "$RUNS"
for kind in $KINDS; do
    for case in "1 no" "4 no" "4 yes"; do
        read -r n good <<< "$case"
        locations=()
        for i in $(seq "$n"); do locations+=("refused:http://127.0.0.1:$PORT/$kind-$i/"); done
        if [ "$good" = yes ]; then locations+=("$GOOD"); fi
        : > "$WORK/times"; : > "$WORK/peaks"
        for run in $(seq "$RUNS"); do
            rm -rf "$WORK/data" "$WORK/target"
            measure "$WORK/times" "$WORK/peaks" "$TOOL" "$WORK/data" "$WORK/target" "${locations[@]}"
        done
        awk '{ print int($1 / 1024) }' "$WORK/peaks" > "$WORK/peaks.mb"
        printf '| %s | %d | %s | %d MB | %s |\n' "$kind" "$n" "$good" "$(median < "$WORK/peaks.mb")" \
            "$(paste -sd, "$WORK/peaks.mb" | sed 's/,/, /g') MB"
    done
done
