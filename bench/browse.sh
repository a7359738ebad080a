#!/usr/bin/env bash
# Benchmark of the terminal explorer (-browse) on the records files.
#
# Builds Vellum in Release (build-bench, as bench/run.sh does) and the
# in-process timer bench/browse.cpp, generates the records files of N = 10^6
# and 10^7 (12 bytes a record, 4 members), then for each N:
#   1. bench/browse: first screen, End to the last member, the keys at the
#      start, the middle and the end (the slowest of the three), index bytes
#      per member and peak memory beyond the file;
#   2. the real program in tmux (120x40): time from start until the first
#      member line is on the screen, and until End has put the last record on
#      the status line (End sent as soon as the first screen is there).
# Times depend on the machine's load (the script prints it); the figures are
# kept in docs/PERFORMANCE.md.
#
# usage: bench/browse.sh [--quick]   (--quick: N = 10^6 only)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BENCH_BUILD:-$root/build-bench}
sizes="1000000 10000000"
[ "${1:-}" = "--quick" ] && sizes="1000000"
data=$build/bench-data
mkdir -p "$data"
trap 'rm -f "$data"/browse-*.bin' EXIT

gen_flag=""
command -v ninja >/dev/null 2>&1 && gen_flag="-G Ninja"
cmake -S "$root" -B "$build" $gen_flag -DCMAKE_BUILD_TYPE=Release -DVELLUM_TESTS=OFF >/dev/null
cmake --build "$build" --target vellum -j 2 >/dev/null
${CXX:-g++} -std=c++20 -O2 -o "$build/bench-gen" "$root/bench/gen.cpp"
${CXX:-g++} -std=c++20 -O2 -I"$root/core" -I"$root/cli" -I"$root/cli/output" -I"$root/cli/browse" \
  -o "$build/bench-browse" "$root/bench/browse.cpp" "$build/libvellum_cli.a" "$build/libvellum_core.a" \
  -lncursesw -lpthread

echo "== machine: $(nproc) cores, load average at start: $(cut -d' ' -f1-3 /proc/loadavg)"
ms() { echo $(( $(date +%s%N) / 1000000 )); }
for n in $sizes; do
  file=$data/browse-$n.bin
  "$build/bench-gen" records "$n" "$file"
  echo "== N=$n ($((12 * n)) bytes, $((4 * n)) members)"
  "$build/bench-browse" "$root/bench/records.vlt" "$file" | sed 's/^/   /'
  if command -v tmux >/dev/null 2>&1; then
    socket=vellum-bench-$$
    t0=$(ms)
    tmux -L "$socket" -f /dev/null new-session -d -x 120 -y 40 \
      "LANG=C.UTF-8 $build/vellum -browse -layout $root/bench/records.vlt -data $file; sleep 60"
    first=""
    while [ -z "$first" ]; do
      tmux -L "$socket" capture-pane -p | grep -q 'id = 0' && first=$(( $(ms) - t0 ))
      [ $(( $(ms) - t0 )) -gt 60000 ] && first=timeout
    done
    tmux -L "$socket" send-keys End
    last=$((n - 1)); end=""
    while [ -z "$end" ]; do
      tmux -L "$socket" capture-pane -p | tail -1 | grep -q "records\[$last\]" && end=$(( $(ms) - t0 ))
      [ $(( $(ms) - t0 )) -gt 120000 ] && end=timeout
    done
    tmux -L "$socket" kill-server
    echo "   terminal: first screen ${first} ms, End to the last record ${end} ms (from start)"
  fi
  rm -f "$file"
done
echo "load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
