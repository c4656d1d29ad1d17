#!/bin/bash
# A program left open for a long session: one run of bench_GuiLongRun,
# offscreen, on a fresh data directory and an empty sandbox target root (the
# host is never the target), against Debian's main index (63,440 stanzas) and
# a small repository, both served on loopback. The small repository holds
# packages with native depictions (banner and five screenshots each), packages
# with web depictions (its source shows original depictions), and an
# application that depends on a library of the same repository.
#
#   Benchmarks/long-run.sh [build directory]
#
# LONG_RUN_WRAPPER runs the tool under a profiler, e.g.
# LONG_RUN_WRAPPER="heaptrack -o /tmp/long-run" (its figures then say little).
# LONG_RUN_SMAPS=<directory> keeps a copy of /proc/self/smaps after each phase;
# LONG_RUN_DETAIL=1 adds the heap and SQLite figures and the stalls page by page.
#
# The run: add both sources (the pipeline refreshes them), refresh all, then
# three forced refreshes (the served indexes change each time), open Debian
# main's own screen (its sections and packages) from Manage twice, a package
# page from it and back, and refresh once more while it is shown, open and
# scroll All Packages, open and close 30 package pages (native, web,
# index-only), 40 searches (20 in each mode), and twice queue, resolve,
# install, then remove the application and its library in the sandbox root.
# After each phase it prints the resident memory, the longest time the GUI
# thread kept its event loop waiting, and the rows of the lists it opened; a
# list of 0 rows (the source screen's too), a refresh that stored nothing or
# a queue run that did not reach the sandbox ends it with a non-zero status.
# Not part of CI.
set -euo pipefail
BUILD=${1:-build}
TOOL=$(realpath "$BUILD/Benchmarks/bench_GuiLongRun")
[ -x "$TOOL" ] || { echo "build bench_GuiLongRun first (ninja -C $BUILD bench_GuiLongRun)"; exit 2; }
VARIANTS="gz"
source "$(dirname "$0")/debian-index-server.sh"
BASE="http://127.0.0.1:$PORT"
SMALL="$WORK/repo/small"
mkdir -p "$SMALL/depictions" "$WORK/debs"

# Images: a banner and five screenshots per native package, each at its own
# address as a real repository has them.
python3 - "$SMALL/depictions" <<'EOF'
import struct, sys, zlib
def png(path, w, h, rgb):
    row = b"\0" + bytes(rgb) * w
    body = zlib.compress(row * h, 6)
    chunk = lambda t, d: struct.pack(">I", len(d)) + t + d + struct.pack(">I", zlib.crc32(t + d) & 0xffffffff)
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 2, 0, 0, 0))
                + chunk(b"IDAT", body) + chunk(b"IEND", b""))
out = sys.argv[1]
for n in range(1, 13):
    png(f"{out}/banner-{n}.png", 1280, 400, (40 + n * 10, 120, 240 - n * 10))
    for s in range(1, 6):
        png(f"{out}/shot-{n}-{s}.png", 640, 1136, (30 * s, 200 - n * 8, 60 + n * 12))
EOF

deb() {  # name version control-lines
    local dir="$WORK/debs/$1"
    mkdir -p "$dir/DEBIAN" "$dir/usr/share/vostrelle-bench"
    echo "$2" > "$dir/usr/share/vostrelle-bench/$1"
    printf 'Package: %s\nVersion: %s\nArchitecture: all\nMaintainer: Bench Maker <bench@example.com>\n%sDescription: long-run benchmark package\n' \
        "$1" "$2" "$3" > "$dir/DEBIAN/control"
    dpkg-deb --root-owner-group -Zgzip --build "$dir" "$SMALL/$1_$2_all.deb" >/dev/null
}
native_depiction() {  # n
    local shots="" s
    for s in 1 2 3 4 5; do shots+="{\"url\": \"$BASE/small/depictions/shot-$1-$s.png\"},"; done
    cat > "$SMALL/depictions/native-$1.json" <<EOF
{"headerImage": "$BASE/small/depictions/banner-$1.png",
 "tabs": [{"tabname": "Details", "views": [{"markdown": "**Bench $1** is a package with a native depiction.\n\n- one\n- two"},
                                          {"screenshots": [${shots%,}]}]},
          {"tabname": "Change Log", "views": [{"title": "1.$1"}, {"markdown": "- changed"}]}]}
EOF
}
for n in $(seq 1 10); do
    native_depiction "$n"
    deb "org.vostrelle.bench.native$n" "1.$n" "Name: Bench Native $n
Section: Tweaks
SileoDepiction: $BASE/small/depictions/native-$n.json
"
    cat > "$SMALL/depictions/web-$n.html" <<EOF
<!doctype html><html><head><title>Bench Web $n</title></head><body>
<h1>Bench Web $n</h1><p>A package with a web depiction.</p>
<img src="$BASE/small/depictions/shot-$n-1.png" width="320"><img src="$BASE/small/depictions/shot-$n-2.png" width="320">
</body></html>
EOF
    deb "org.vostrelle.bench.web$n" "2.$n" "Name: Bench Web $n
Section: Themes
Depiction: $BASE/small/depictions/web-$n.html
"
done
native_depiction 11
deb org.vostrelle.bench.library 1.0 "Name: Bench Library
Section: Libraries
SileoDepiction: $BASE/small/depictions/native-11.json
"
native_depiction 12
deb org.vostrelle.bench.app 1.0 "Name: Bench App
Section: Tweaks
Depends: org.vostrelle.bench.library (>= 1.0)
SileoDepiction: $BASE/small/depictions/native-12.json
"
(cd "$SMALL" && apt-ftparchive packages . > Packages && gzip -9 -k Packages &&
    apt-ftparchive -o APT::FTPArchive::Release::Origin="Bench Repo" -o APT::FTPArchive::Release::Label="Bench Repo" \
        release . > "$WORK/Release.tmp" && mv "$WORK/Release.tmp" Release)

mkdir -p "$WORK/data" "$WORK/log" "$WORK/target/var/lib/dpkg"
touch "$WORK/target/var/lib/dpkg/status"
echo "small repository: $(grep -c '^Package:' "$SMALL/Packages") packages; target root $WORK/target (empty)"
# The tool exits 1 when a step measured nothing (see above); its log stays for a look.
QT_QPA_PLATFORM=offscreen VOSTRELLE_TARGET_ROOT=$WORK/target VOSTRELLE_LOG_DIR=$WORK/log VOSTRELLE_DATA_DIR=$WORK/data \
    VOSTRELLE_ASSUME_REACHABLE=1 QTWEBENGINE_CHROMIUM_FLAGS="--no-sandbox --disable-gpu" \
    ${LONG_RUN_WRAPPER:-} "$TOOL" "$BASE/gz/" "$BASE/small/" "$WORK/repo/gz" "$WORK/repo/small" 2>"$WORK/stderr" ||
    { status=$?; echo "FAILED ($status):"; tail -30 "$WORK/stderr"; tail -30 "$WORK/log/"*.log 2>/dev/null; exit 1; }
