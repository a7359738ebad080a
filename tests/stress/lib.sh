# lib.sh - what the stress scripts share: a scratch folder, running Vellum
# under a time and memory bound while measuring both, and the checks.
# Sourced by each tests/stress/*.sh, which takes the vellum binary as $1.
# Use a build without sanitizers: the memory bound is a limit on address
# space, which AddressSanitizer reserves by the terabyte.
set -euo pipefail
name=$(basename "$0" .sh)
vellum=$(realpath "${1:?usage: $0 PATH/TO/vellum}")
work=$(mktemp -d "${TMPDIR:-/tmp}/vellum-stress.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"

fail() {
    echo "FAIL $name: $*" >&2
    for f in out err; do
        [ -f "$f" ] && { echo "--- $f (first lines)" >&2; head -c 2000 "$f" | head -n 12 >&2; }
    done
    exit 1
}

# run SECONDS MEGABYTES ARGS... - runs vellum with ARGS; standard output goes
# to `out`, standard error to `err`. Sets rc (exit status), secs (wall-clock
# seconds) and peak (largest resident size in MiB). Fails when the run is
# stopped by the time bound or needs more than MEGABYTES of address space.
run() {
    local seconds=$1 megabytes=$2
    shift 2
    rc=0
    (
        ulimit -v $(( (megabytes + 32) * 1024 ))
        if [ -x /usr/bin/time ]; then
            exec timeout "$seconds" /usr/bin/time -f '%e %M' -o "$work/.time" "$vellum" "$@"
        fi
        # Without GNU time: wall-clock time only.
        start=$(date +%s%N)
        status=0
        timeout "$seconds" "$vellum" "$@" || status=$?
        elapsed=$(( ($(date +%s%N) - start) / 1000000 ))
        printf '%d.%03d 0\n' $((elapsed / 1000)) $((elapsed % 1000)) >"$work/.time"
        exit $status
    ) >out 2>err || rc=$?
    if [ "$rc" = 124 ]; then fail "no result within $seconds s ($*)"; fi
    if grep -q -e 'Out of memory' -e 'std::bad_alloc' err; then fail "ran out of its $megabytes MiB ($*)"; fi
    if grep -q 'Internal error' err; then fail "internal error ($*)"; fi
    # /usr/bin/time prints a note before its numbers when the command failed.
    read -r secs peak < <(tail -n 1 "$work/.time")
    peak=$(( ${peak:-0} / 1024 ))
    printf '  %-44s %7.2f s %6d MiB\n' "${label:-$*}" "$secs" "$peak"
}

# expect_rc N - the last run ended with exit status N.
expect_rc() { [ "$rc" = "$1" ] || fail "exit status $rc, expected $1"; }

# expect_err TEXT - standard error holds TEXT as a whole line.
expect_err() { grep -qxF -- "$1" err || fail "standard error lacks: $1"; }

# expect_no_err - standard error is empty.
expect_no_err() { [ ! -s err ] || fail "unexpected standard error: $(head -c 300 err)"; }

# expect_out TEXT - standard output holds TEXT as a whole line.
expect_out() { grep -qxF -- "$1" out || fail "standard output lacks: $1"; }

# expect_lines N - standard output has exactly N lines.
expect_lines() {
    local n
    n=$(wc -l <out)
    [ "$n" = "$1" ] || fail "standard output has $n lines, expected $1"
}

# repeat N TEXT - TEXT N times, each followed by a line break, with every
# '#' replaced by the repetition's number (from 0).
repeat() { awk -v n="$1" -v t="$2" 'BEGIN { for (i = 0; i < n; i++) { s = t; gsub(/#/, i, s); print s } }'; }

# chars N C - the character C N times, no line break.
chars() { head -c "$1" /dev/zero | tr '\0' "$2"; }
