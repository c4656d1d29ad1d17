# Sourced by the refresh benchmarks after debian-index-server.sh: the
# private APT tree that `apt-get update` runs against (apt.conf of its own,
# empty target root, in $WORK), and the timing of a
# whole process. A failed command stops the benchmark with its output.
TREE=$WORK/tree ROOT=$WORK/root
mkdir -p "$TREE"/etc/apt/{sources.list.d,apt.conf.d,preferences.d} "$TREE"/var/lib/apt/lists/partial \
         "$TREE"/var/cache/apt/archives/partial "$TREE"/var/log/apt "$ROOT"/var/lib/dpkg "$ROOT"/var/log
touch "$ROOT/var/lib/dpkg/status"
cat > "$TREE/apt.conf" <<CONF
Dir "$TREE/";
Dir::State "var/lib/apt/";  Dir::Cache "var/cache/apt/";  Dir::Etc "etc/apt/";  Dir::Log "var/log/apt/";
Dir::Etc::main "/dev/null";
Dir::State::status "$ROOT/var/lib/dpkg/status";
Dir::Bin::dpkg "/usr/bin/dpkg";
APT::Architecture "$(dpkg --print-architecture)";  APT::Architectures { "$(dpkg --print-architecture)"; };
Acquire::Languages "none";
APT::Sandbox::User "root";
CONF

median() { sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
# Runs a command as a whole process; appends its wall seconds and maximum RSS (kB) to the two files.
measure() {
    local times=$1 memory=$2
    shift 2
    /usr/bin/time -f '%e %M' -o "$WORK/time.out" "$@" >"$WORK/out" 2>"$WORK/err" || {
        echo "failed: $*" | cut -c1-200; tail -5 "$WORK/err"; cat "$WORK/out"; exit 1; }
    read -r seconds kilobytes < "$WORK/time.out"
    echo "$seconds" >> "$times"
    echo "$kilobytes" >> "$memory"
}
