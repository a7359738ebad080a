#!/usr/bin/env bash
# Runs the stress scripts against one vellum binary (default: build/vellum,
# a build without sanitizers) and says which failed. The scripts that take
# under a minute run by default, as CI does; --slow adds the ones that need
# minutes and several GiB of memory (large-files-slow.sh).
# usage: tests/stress/run-all.sh [--slow] [PATH/TO/vellum]
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
slow=0
if [ "${1:-}" = --slow ]; then slow=1; shift; fi
vellum=${1:-$here/../../build/vellum}
[ -x "$vellum" ] || { echo "no vellum binary at $vellum" >&2; exit 2; }
failed=()
for script in "$here"/*.sh; do
    name=$(basename "$script" .sh)
    case $name in
        lib|run-all) continue ;;
        *-slow) [ $slow = 1 ] || continue ;;
    esac
    echo "$name"
    "$script" "$vellum" || failed+=("$name")
done
if [ ${#failed[@]} -gt 0 ]; then
    echo "stress cases failed: ${failed[*]}" >&2
    exit 1
fi
echo "all stress cases passed"
