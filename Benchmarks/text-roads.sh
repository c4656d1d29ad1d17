#!/bin/bash
# The window's stalls while hostile texts show, on every road a text takes to
# its view, from the launch: one run of bench_GuiTextRoads per road and shape
# (each in a process of its own, offscreen, with its own data directory and
# loopback servers), a few at once.
#
#   Benchmarks/text-roads.sh [build directory] ["road shape"...]
#
# Without pairs: every shape on the native description, the shapes that froze
# the window and those of combining marks and changing direction on every
# road (bench_GuiTextRoads --list). TEXT_ROADS_JOBS: runs at once (default 3);
# TEXT_ROADS_KILL: seconds after which a run is killed and its row says
# "froze" (default 240; the tool itself ends a run whose window has not
# answered for TEXT_ROADS_FROZEN seconds, default 30).
#
# One row per pair, in the order of the list, with "how" the text showed as
# the program's log tells it (rich; plain; lines: plain in short lines; cut:
# the start of it, with a link to the whole text). Exits 1 when a row measured
# nothing (the page or its text never came, the refresh stored nothing), 2
# when a row froze, stalled the window past 100 ms, took more than 2 s to be
# laid out or did not scroll to its end, 0 otherwise. Not part of CI.
set -uo pipefail
BUILD=${1:-build}
shift || true
TOOL=$(realpath "$BUILD/Benchmarks/bench_GuiTextRoads")
[ -x "$TOOL" ] || { echo "build bench_GuiTextRoads first (ninja -C $BUILD bench_GuiTextRoads vostrelle-helper)"; exit 2; }
PAIRS=("$@")
[ ${#PAIRS[@]} -gt 0 ] || mapfile -t PAIRS < <("$TOOL" --list)
JOBS=${TEXT_ROADS_JOBS:-3}
KILL=${TEXT_ROADS_KILL:-240}
WORK=$(mktemp -d /tmp/vostrelle-text-roads.XXXXXX)
trap 'rm -rf "$WORK"' EXIT
export QT_QPA_PLATFORM=offscreen

run() {  # index road shape
    local n=$1 dir="$WORK/$1"
    mkdir -p "$dir"
    TMPDIR=$dir timeout -k 10 "$KILL" "$TOOL" "$2" "$3" >"$dir/row" 2>"$dir/log"
    echo $? >"$dir/status"
    rm -rf "$dir"/vostrelle-test-*
}

started=$(date +%s)
for i in "${!PAIRS[@]}"; do
    while [ "$(jobs -rp | wc -l)" -ge "$JOBS" ]; do wait -n; done
    read -r road shape <<<"${PAIRS[$i]}"
    echo "[$((i + 1))/${#PAIRS[@]}] $road $shape" >&2
    run "$i" "$road" "$shape" &
done
wait

header=$("$TOOL" --header)
echo "${header:0:45} how  ${header:45}"
status=0
for i in "${!PAIRS[@]}"; do
    read -r road shape <<<"${PAIRS[$i]}"
    dir="$WORK/$i"
    code=$(cat "$dir/status")
    row=$(tail -1 "$dir/row")
    log="$dir/log"
    if grep -q "shows cut after" "$log"; then how=cut
    elif grep -q "shows in short lines" "$log"; then how=lines
    elif grep -q "shows as plain text" "$log" || [ "$road" = index ] || [ "$road" = classic-changelog ]; then how=plain
    else how=rich; fi
    case $code in
        0 | 1 | 2 | 3) ;;
        124 | 137) row=$(printf '%-20s %-18s %5s froze: killed after %s s' "$road" "$shape" "" "$KILL") ;;
        *) row=$(printf '%-20s %-18s %5s measured nothing: ended with status %s: %s' "$road" "$shape" "" "$code" \
                 "$(grep -v '^$' "$log" | tail -1)")
           code=1 ;;
    esac
    echo "${row:0:45} $(printf '%-5s' "$how")${row:45}"
    if [ "$code" -eq 1 ]; then status=1
    elif [ "$code" -ne 0 ] && [ $status -eq 0 ]; then status=2; fi
done
echo "$((${#PAIRS[@]})) rows in $(( $(date +%s) - started )) s, $JOBS at once; load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
exit $status
