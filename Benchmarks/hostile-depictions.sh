#!/bin/bash
# Each hostile depiction case in a process of its own: its time per reading
# and the process's peak memory (/usr/bin/time), against the goal of one
# depiction: within 1 s and 250 MB more than the process held before (the
# text itself and the program).
#   - bench_DepictionParsingBench, BM_Hostile4MB: the 4 MB texts rendered, or
#     read as pages; BM_PlainText4MB: 4 MB Markdown texts read as plain text;
#   - bench_DepictionDocumentBench, BM_Document: the package page's whole
#     text-to-document step, with the characters of the document made.
# A case still running after DEPICTION_CASE_CAP seconds (default 120) is
# stopped, and misses the goal.
#
#   Benchmarks/hostile-depictions.sh [build directory] [case pattern (grep -E)]
#
# Exits 1 when a case measured nothing (the text gave nothing, or an empty
# document) or missed the goal.
set -euo pipefail
BUILD=${1:-build}
PATTERN=${2:-.}
CAP=${DEPICTION_CASE_CAP:-120}
OUT=$(mktemp)
trap 'rm -f "$OUT" "$OUT.rss"' EXIT
status=0

# run_cases TOOL BENCHMARK TITLE: each case of BENCHMARK in TOOL, one process each.
run_cases() {
    local tool=$1 benchmark=$2 title=$3
    [ -x "$tool" ] || { echo "build $(basename "$tool") first (ninja -C $BUILD $(basename "$tool"))"; exit 2; }
    # What a process that only makes the text holds: the baseline of the memory goal.
    local base_kb
    base_kb=$(/usr/bin/time -f %M "$tool" --benchmark_filter=NONE 2>&1 >/dev/null | tail -1)
    printf "%-66s %9s %8s %9s\n" "$title" "ms" "peak MB" "chars"
    local name code row ms label chars peak_kb
    for name in $("$tool" --benchmark_list_tests | grep "^$benchmark/" | grep -E -- "$PATTERN"); do
        code=0
        /usr/bin/time -f %M -o "$OUT.rss" timeout "$CAP" "$tool" --benchmark_filter="^$name\$" --benchmark_format=csv \
            --benchmark_min_time=1 >"$OUT" 2>/dev/null || code=$?
        peak_kb=$(tail -1 "$OUT.rss")
        if [ $code -eq 124 ]; then
            printf "%-66s %9s %8d\n" "$name" ">$((CAP * 1000))" "$((peak_kb / 1024))"
            echo "  ^ stopped after $CAP s: misses the goal"; status=1; continue
        fi
        row=$(grep "^\"$name\"" "$OUT" || true)
        if [ $code -ne 0 ] || [ -z "$row" ] || echo "$row" | grep -q ',true,"'; then
            echo "$name measured nothing (status $code): $(echo "$row" | sed -n 's/.*,true,"\([^"]*\)".*/\1/p')"; status=1; continue
        fi
        ms=$(echo "$row" | awk -F, '{print $3}')
        label=$(echo "$row" | sed 's/.*,"\([^"]*\)",.*/\1/')
        chars=""
        [ "$benchmark" = BM_Document ] && chars=$(echo "$row" | awk -F, '{printf "%d", $NF}')
        printf "%-66s %9.0f %8d %9s\n" "$label" "$ms" "$((peak_kb / 1024))" "$chars"
        if awk -v ms="$ms" 'BEGIN { exit !(ms > 1000) }' || [ $((peak_kb - base_kb)) -gt $((250 * 1024)) ]; then
            echo "  ^ misses the goal"; status=1
        fi
    done
}

run_cases "$(realpath "$BUILD/Benchmarks/bench_DepictionParsingBench")" BM_Hostile4MB "text (4 MiB)"
echo
run_cases "$(realpath "$BUILD/Benchmarks/bench_DepictionParsingBench")" BM_PlainText4MB "Markdown read as plain text (4 MiB)"
echo
run_cases "$(realpath "$BUILD/Benchmarks/bench_DepictionDocumentBench")" BM_Document "text to document (size)"
exit $status
