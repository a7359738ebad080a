#!/usr/bin/env bash
# Benchmark of the JSON outputs against the text output.
#
# Builds Vellum in Release (the build directory of run.sh), generates the
# records file (12-byte records, 4 members each) for N = 10^6, and times the
# text output, -ndjson and -json on it, output to /dev/null, interleaved
# (text, ndjson, json, text, ...) so that a change in the machine's load
# touches all three alike. Prints the median wall and processor times, the
# members per second by each, and the ratios to the text output. Then runs
# -ndjson and -json once each on N = 10^7 (and 10^6) and reports the peak
# resident memory against the data file (target: the file plus 8 MiB).
#
# usage: bench/json.sh [--runs K] [--no-large]
#   --runs K     timed runs per output at N = 10^6 (default 7)
#   --no-large   skip N = 10^7 (120 MB of data)
# Environment: BENCH_BUILD (default: build-bench in the repository).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${BENCH_BUILD:-$root/build-bench}
runs=7
large=1
while [ $# -gt 0 ]; do
  case "$1" in
    --runs) runs=$2; shift ;;
    --no-large) large=0 ;;
    *) echo "usage: $0 [--runs K] [--no-large]" >&2; exit 2 ;;
  esac
  shift
done

data=$build/bench-json
mkdir -p "$data"
trap 'rm -rf "$data"' EXIT

echo "== building (Release) in $build"
gen_flag=""
command -v ninja >/dev/null 2>&1 && gen_flag="-G Ninja"
cmake -S "$root" -B "$build" $gen_flag -DCMAKE_BUILD_TYPE=Release -DVELLUM_TESTS=OFF >/dev/null
cmake --build "$build" --target vellum -j 2 >/dev/null
vellum=$build/vellum
${CXX:-g++} -std=c++20 -O2 -Wall -Wextra -o "$data/gen" "$root/bench/gen.cpp"
layout=$root/bench/records.vlt

# One run: wall microseconds, processor microseconds (user + system), peak KB.
one() {
  local start end
  start=$(date +%s%N)
  /usr/bin/time -f "%U %S %M" -o "$data/time.txt" "$@" >/dev/null 2>"$data/stderr.txt"
  end=$(date +%s%N)
  awk -v wall=$(( (end - start) / 1000 )) '{printf "%d %d %d\n", wall, ($1 + $2) * 1e6, $3}' "$data/time.txt"
}

median() { sort -n | awk '{a[NR] = $1} END {print a[int((NR + 1) / 2)]}'; }

echo "== machine: $(nproc) cores, load average at start: $(cut -d' ' -f1-3 /proc/loadavg)"
n=1000000
file=$data/records-$n.bin
"$data/gen" records $n "$file"
members=$((4 * n))
: >"$data/text.txt"; : >"$data/ndjson.txt"; : >"$data/json.txt"
for ((i = 0; i < runs; i++)); do
  one "$vellum" -layout "$layout" -data "$file" >>"$data/text.txt"
  one "$vellum" -layout "$layout" -data "$file" -ndjson >>"$data/ndjson.txt"
  one "$vellum" -layout "$layout" -data "$file" -json >>"$data/json.txt"
done
echo "load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
echo
printf '%-8s %9s %9s %13s %13s %9s %9s   %s\n' output "wall s" "cpu s" "members/s" "(by cpu)" "x text" "(cpu)" "all wall times (s)"
text_wall=$(cut -d' ' -f1 "$data/text.txt" | median)
text_cpu=$(cut -d' ' -f2 "$data/text.txt" | median)
for output in text ndjson json; do
  wall=$(cut -d' ' -f1 "$data/$output.txt" | median)
  cpu=$(cut -d' ' -f2 "$data/$output.txt" | median)
  all=$(cut -d' ' -f1 "$data/$output.txt" | awk '{printf "%.2f ", $1 / 1e6}')
  awk -v o=$output -v w=$wall -v c=$cpu -v m=$members -v tw=$text_wall -v tc=$text_cpu -v all="$all" 'BEGIN {
    if (c < 1) c = 1
    printf "%-8s %9.3f %9.3f %13.0f %13.0f %9.2f %9.2f   %s\n", o, w / 1e6, c / 1e6, m / (w / 1e6), m / (c / 1e6), w / tw, c / tc, all
  }'
done
echo "(N = 10^6 records, $members members; medians of $runs interleaved runs; output to /dev/null)"

echo
echo "== peak memory (one run each)"
sizes=1000000
[ $large = 1 ] && sizes="$sizes 10000000"
for n in $sizes; do
  file=$data/records-$n.bin
  [ -f "$file" ] || "$data/gen" records $n "$file"
  bytes=$((12 * n))
  for option in -ndjson -json; do
    read -r wall cpu kb < <(one "$vellum" -layout "$layout" -data "$file" $option)
    awk -v n=$n -v o=$option -v kb=$kb -v b=$bytes -v w=$wall 'BEGIN {
      beyond = kb * 1024 - b
      printf "N=%-9s %-7s peak %7.1f MiB = data %6.1f MiB + %5.1f MiB  (%s; wall %.2f s)\n", n, o, kb / 1024, b / 1048576, beyond / 1048576, beyond <= 8 * 1048576 ? "within 8 MiB" : "MORE than 8 MiB", w / 1e6
    }'
  done
  rm -f "$file"
done
