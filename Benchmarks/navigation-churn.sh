#!/bin/bash
# Package pages opened and left fast through the window: one run of
# bench_GuiNavigationChurn per pace (each in a process of its own, on a fresh
# data directory and an empty sandbox target root), offscreen. Each run
# serves its own repository on loopback (two packages whose native
# depictions are 4 MiB hostile Markdown, and an ordinary one), adds it as a
# source, and from All Packages clicks a row, presses Alt+Left, clicks the
# other row... one step per pace, for the given rounds.
#
#   Benchmarks/navigation-churn.sh [build directory] [rounds] [pace ms...]
#
# Default: 10 rounds at 350 and at 150 ms a step, each with both sets of
# texts (NAVIGATION_CHURN_TEXTS: "pre heavy"; see the tool). Prints one row per pace
# and whether its goals hold: the peak memory within 250 MB of the start,
# within 50 MB of it 2 s after the last page went, idle within 2 s, no stall
# of the window over 100 ms, no page object left and nothing over the list,
# a theme switch afterwards as fast as on the fresh start. Exits 1 when a run
# measured nothing (no page opened, no depiction fetched), 2 when a goal was
# missed. Not part of CI.
set -uo pipefail
BUILD=${1:-build}
ROUNDS=${2:-10}
shift 2 || shift $#
TOOL=$(realpath "$BUILD/Benchmarks/bench_GuiNavigationChurn")
[ -x "$TOOL" ] || { echo "build bench_GuiNavigationChurn first (ninja -C $BUILD bench_GuiNavigationChurn)"; exit 1; }
PACES=("$@")
[ ${#PACES[@]} -gt 0 ] || PACES=(350 150)
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
status=0
read -r -a TEXTS <<<"${NAVIGATION_CHURN_TEXTS:-pre heavy}"
for texts in "${TEXTS[@]}"; do
for pace in "${PACES[@]}"; do
    run="$WORK/$texts-$pace"
    echo "texts: $texts"
    mkdir -p "$run/data" "$run/log" "$run/target/var/lib/dpkg"
    touch "$run/target/var/lib/dpkg/status"
    QT_QPA_PLATFORM=offscreen VOSTRELLE_TARGET_ROOT=$run/target VOSTRELLE_LOG_DIR=$run/log VOSTRELLE_DATA_DIR=$run/data \
        VOSTRELLE_ASSUME_REACHABLE=1 "$TOOL" "$pace" "$ROUNDS" "$texts" >"$run/out" 2>"$run/stderr"
    code=$?
    cat "$run/out"
    if [ $code -eq 1 ] || ! grep -q "holds\|MISSED" "$run/out"; then
        echo "$texts at $pace ms measured nothing (status $code):"
        tail -5 "$run/stderr"
        status=1
    elif [ $code -ne 0 ] && [ $status -eq 0 ]; then
        status=2
    fi
    echo
done
done
exit $status
