#!/bin/bash
# The application's resident memory once it has refreshed Debian's main
# index (63,440 stanzas, served on loopback) in its own process and the list
# of all those packages, opened from the Sections tab, holds every row and is
# scrolled through: one run of
# bench_GuiPackageListMemory, offscreen, on a fresh data directory, against
# an empty target root and one holding a copy of the host's dpkg status
# (the host itself is never the target). Not part of CI.
#
#   Benchmarks/package-list-memory.sh [build directory]
#
# Prints the resident memory after each step (goal: <= 250 MB with the list open).
set -euo pipefail
BUILD=${1:-build}
TOOL=$(realpath "$BUILD/Benchmarks/bench_GuiPackageListMemory")
[ -x "$TOOL" ] || { echo "build bench_GuiPackageListMemory first (ninja -C $BUILD bench_GuiPackageListMemory)"; exit 2; }
VARIANTS="gz"
source "$(dirname "$0")/debian-index-server.sh"

mkdir -p "$WORK/empty/var/lib/dpkg" "$WORK/host/var/lib/dpkg"
touch "$WORK/empty/var/lib/dpkg/status"
cp /var/lib/dpkg/status "$WORK/host/var/lib/dpkg/status"
for root in "$WORK/empty" "$WORK/host"; do
    rm -rf "$WORK/data"
    mkdir -p "$WORK/data" "$WORK/log"
    echo "target root $root ($(grep -c '^Status: install ok installed' "$root/var/lib/dpkg/status") packages installed):"
    # The tool exits 1 when the refresh stored nothing or the list is empty.
    QT_QPA_PLATFORM=offscreen VOSTRELLE_TARGET_ROOT=$root VOSTRELLE_LOG_DIR=$WORK/log \
        "$TOOL" "$WORK/data" "http://127.0.0.1:$PORT/gz/" 2>"$WORK/stderr" | sed 's/^/  /' ||
        { echo "FAILED:"; tail -20 "$WORK/stderr"; exit 1; }
done
