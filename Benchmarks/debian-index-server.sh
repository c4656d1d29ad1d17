# Sourced by the benchmark scripts: Debian's main index of the host served
# as flat repositories on loopback, one per compression given in VARIANTS
# ("xz gz"), at http://127.0.0.1:$PORT/<variant>/; the work directory $WORK
# (with the uncompressed index in $WORK/Packages) goes when the script ends.
# Whatever the caller puts under $WORK/repo later is served as well.
trap 'echo "failed at ${BASH_SOURCE[0]}:$LINENO: $BASH_COMMAND" >&2' ERR
INDEX=/var/lib/apt/lists/deb.debian.org_debian_dists_bookworm_main_binary-amd64_Packages.lz4
[ -f "$INDEX" ] || { echo "no $INDEX: run apt-get update on the host first"; exit 2; }

WORK=$(mktemp -d /tmp/vostrelle-bench.XXXXXX)
SERVER_PID=
cleanup() { [ -n "$SERVER_PID" ] && kill "$SERVER_PID" 2>/dev/null; rm -rf "$WORK"; }
trap cleanup EXIT

/usr/lib/apt/apt-helper cat-file "$INDEX" > "$WORK/Packages"
echo "index: $(grep -c '^Package:' "$WORK/Packages") stanzas, $(stat -c %s "$WORK/Packages") bytes"
for v in $VARIANTS; do
    mkdir -p "$WORK/repo/$v"
    case $v in
        xz) xz -6 -c "$WORK/Packages" > "$WORK/repo/xz/Packages.xz" ;;
        gz) gzip -9 -c "$WORK/Packages" > "$WORK/repo/gz/Packages.gz" ;;
    esac
    # Release lists the plain index too (apt wants it), which is not served.
    cp "$WORK/Packages" "$WORK/repo/$v/"
    (cd "$WORK/repo/$v" && apt-ftparchive release . > "$WORK/Release.tmp")
    mv "$WORK/Release.tmp" "$WORK/repo/$v/Release"
    rm "$WORK/repo/$v/Packages"
done

mkdir -p "$WORK/repo"
PORT=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
(cd "$WORK/repo" && exec python3 -m http.server --bind 127.0.0.1 "$PORT" >/dev/null 2>&1) &
SERVER_PID=$!
for v in $VARIANTS; do
    for _ in $(seq 50); do curl -sf "http://127.0.0.1:$PORT/$v/Release" >/dev/null && break; sleep 0.1; done
done
