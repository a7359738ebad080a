#!/usr/bin/env bash
# Benchmarks of Vellum on large inputs.
#
# Builds Vellum in Release (its own build directory), builds the data generator
# and the hand-written reference printer with -O2, generates record files of
# N = 10^5, 10^6 and 10^7 records (12 bytes each), checks on small N that
# Vellum prints exactly what the reference prints, then times every tool with
# /usr/bin/time -v over several runs, output to /dev/null, and prints a table:
# median wall time, members per second, MB/s of input, peak resident memory and
# peak memory per member beyond the file itself. Last, it times the compilation
# of a generated 1 MB layout run over an empty data file.
#
# usage: bench/run.sh [--quick] [--runs K] [--keep]
#   --quick   skip N = 10^7 (a run of about a minute instead of several)
#   --runs K  timed runs per row (default 5; at most 3 for N = 10^7 and for the
#             nested and bytes rows; 1 for a row whose first run takes over a minute)
#   --keep    keep the generated files (in BUILD/bench-data)
# Environment: BENCH_BUILD (default: build-bench in the repository).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${BENCH_BUILD:-$root/build-bench}
quick=0
runs=5
keep=0
while [ $# -gt 0 ]; do
  case "$1" in
    --quick) quick=1 ;;
    --runs) runs=$2; shift ;;
    --keep) keep=1 ;;
    *) echo "usage: $0 [--quick] [--runs K] [--keep]" >&2; exit 2 ;;
  esac
  shift
done

data=$build/bench-data
tools=$build/bench-tools
mkdir -p "$data" "$tools"
[ $keep = 1 ] || trap 'rm -rf "$data"' EXIT

# --- build -------------------------------------------------------------------
echo "== building (Release) in $build"
gen_flag=""
command -v ninja >/dev/null 2>&1 && gen_flag="-G Ninja"
cmake -S "$root" -B "$build" $gen_flag -DCMAKE_BUILD_TYPE=Release -DVELLUM_TESTS=OFF >/dev/null
cmake --build "$build" --target vellum -j 2 >/dev/null
vellum=$build/vellum
${CXX:-g++} -std=c++20 -O2 -Wall -Wextra -o "$tools/gen" "$root/bench/gen.cpp"
${CXX:-g++} -std=c++20 -O2 -Wall -Wextra -o "$tools/reference" "$root/bench/reference.cpp"
gen=$tools/gen
reference=$tools/reference

# --- correctness: Vellum's lines equal the reference's -----------------------
echo "== checking the reference's formatters"
"$reference" --selftest
echo "== checking Vellum against the reference"
for n in 1 7 1000 100000; do
  "$gen" records $n "$data/check.bin"
  "$vellum" -layout "$root/bench/records.vlt" -data "$data/check.bin" >"$data/check.vellum" 2>"$data/check.err" || true
  "$reference" "$data/check.bin" >"$data/check.reference"
  if ! cmp -s "$data/check.vellum" "$data/check.reference" || [ -s "$data/check.err" ]; then
    echo "MISMATCH for N=$n: Vellum's output differs from the reference's" >&2
    cmp "$data/check.vellum" "$data/check.reference" >&2 || true
    diff <(head -c 4000 "$data/check.reference") <(head -c 4000 "$data/check.vellum") | head -20 >&2 || true
    head -5 "$data/check.err" >&2
    exit 1
  fi
  echo "   N=$n: identical ($(wc -c <"$data/check.reference") bytes)"
done

# --- timing ------------------------------------------------------------------
results=$build/bench-results.txt
: >"$results"

# measure LABEL N MEMBERS INPUT-BYTES RUNS COMMAND...
# Runs COMMAND RUNS times with output to /dev/null; records the median wall
# time (measured around the process), the median processor time (user + system,
# from /usr/bin/time -v: less disturbed by other load on the machine) and the
# largest peak RSS that /usr/bin/time -v reports.
measure() {
  local label=$1 n=$2 members=$3 input=$4 count=$5
  shift 5
  local walls=() cpus=() rss=0 i start end kb status
  for ((i = 0; i < count; i++)); do
    start=$(date +%s%N)
    status=0
    timeout 600 /usr/bin/time -v -o "$data/time.txt" "$@" >/dev/null 2>"$data/stderr.txt" || status=$?
    end=$(date +%s%N)
    if [ $status != 0 ]; then
      echo "   $label N=$n: exit status $status" >&2
      head -3 "$data/stderr.txt" >&2
      printf '%s\t%s\tFAILED\n' "$label" "$n" >>"$results"
      return 0
    fi
    walls+=($(( (end - start) / 1000 )))
    # A row whose first run takes over a minute is timed once, to keep the whole
    # benchmark within minutes.
    [ $i = 0 ] && [ $(( (end - start) / 1000000000 )) -ge 60 ] && count=1
    cpus+=($(awk -F': ' '/User time|System time/ {s += $2} END {printf "%d", s * 1e6}' "$data/time.txt"))
    kb=$(awk -F': ' '/Maximum resident set size/ {print $2}' "$data/time.txt")
    [ "$kb" -gt "$rss" ] && rss=$kb
  done
  local median cpu
  median=$(printf '%s\n' "${walls[@]}" | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}')
  cpu=$(printf '%s\n' "${cpus[@]}" | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}')
  printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$label" "$n" "$members" "$input" "$median" "$rss" "$cpu" >>"$results"
  printf '   %-16s N=%-9s wall %8.3f s  cpu %8.3f s  peak RSS %7.1f MB\n' "$label" "$n" \
    "$(awk -v us="$median" 'BEGIN {print us / 1e6}')" "$(awk -v us="$cpu" 'BEGIN {print us / 1e6}')" \
    "$(awk -v kb="$rss" 'BEGIN {print kb / 1024}')"
}

echo "== machine: $(nproc) cores, $(awk '/MemTotal/ {printf "%.0f GB", $2 / 1048576}' /proc/meminfo)," \
  "load average at start: $(cut -d' ' -f1-3 /proc/loadavg)"
sizes="100000 1000000"
[ $quick = 1 ] || sizes="$sizes 10000000"
for n in $sizes; do
  k=$runs
  [ "$n" -ge 10000000 ] && [ "$runs" -gt 3 ] && k=3
  file=$data/records-$n.bin
  "$gen" records $n "$file"
  bytes=$((12 * n))
  echo "== N=$n ($bytes bytes)"
  measure "reference" $n $((4 * n)) $bytes $k "$reference" "$file"
  measure "vellum records" $n $((4 * n)) $bytes $k "$vellum" -layout "$root/bench/records.vlt" -data "$file"
  # od prints 3 words per record; its row counts the same 4 members per record
  # as the other rows, so that members per second compare times directly.
  measure "od -tx4" $n $((4 * n)) $bytes $k od -An -v -tx4 "$file"
  if [ "$n" -le 1000000 ]; then
    # The nested and bytes layouts: at most 3 runs each (they are the slow rows).
    k2=$k
    [ "$k2" -gt 3 ] && k2=3
    members=$("$vellum" -layout "$root/bench/nested.vlt" -data "$file" | grep -c ' $' || true)
    measure "vellum nested" $n "$members" $bytes $k2 "$vellum" -layout "$root/bench/nested.vlt" -data "$file"
    "$gen" bytes $bytes "$data/bytes-$n.bin"
    measure "vellum bytes" $n $bytes $bytes $k2 "$vellum" -layout "$root/bench/bytes.vlt" -data "$data/bytes-$n.bin"
    rm -f "$data/bytes-$n.bin"
  fi
  rm -f "$file"
done

# --- compile time --------------------------------------------------------------
echo "== compiling a generated 1 MB layout (empty data file, no layout statement)"
"$gen" layout 1048576 "$data/big.vlt"
: >"$data/empty.bin"
"$vellum" -layout "$data/big.vlt" -data "$data/empty.bin" >"$data/big.out" 2>"$data/big.err" || true
if [ -s "$data/big.err" ] || ! grep -q '^WARNING No members exported' "$data/big.out"; then
  echo "the generated layout did not compile cleanly:" >&2
  head -5 "$data/big.err" >&2
  printf '%s\t%s\tFAILED\n' "compile 1 MB" "-" >>"$results"
else
  measure "compile 1 MB" "-" 0 "$(wc -c <"$data/big.vlt")" "$runs" "$vellum" -layout "$data/big.vlt" -data "$data/empty.bin"
fi

# --- table ---------------------------------------------------------------------
echo
echo "load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
awk -F'\t' '
  BEGIN {
    printf "%-15s %9s %8s %8s %11s %11s %8s %9s %9s %6s %6s\n", "tool", "N", "wall s", "cpu s", "members/s", "(by cpu)", "MB/s", "peak RSS", "B/member", "x ref", "(cpu)"
  }
  $3 == "FAILED" { printf "%-15s %9s %8s\n", $1, $2, "FAILED"; next }
  {
    label = $1; n = $2; members = $3; input = $4; wall = $5 / 1e6; kb = $6; cpu = $7 / 1e6
    if (cpu <= 0) cpu = 0.001
    if (label == "reference") { refWall[n] = wall; refCpu[n] = cpu }
    rate = members > 0 ? sprintf("%11.0f %11.0f", members / wall, members / cpu) : sprintf("%11s %11s", "-", "-")
    per = members > 0 ? sprintf("%9.1f", (kb * 1024 - input) / members) : sprintf("%9s", "-")
    ratio = (n in refWall) && label != "reference" ? sprintf("%6.2f %6.2f", wall / refWall[n], cpu / refCpu[n]) : sprintf("%6s %6s", "-", "-")
    printf "%-15s %9s %8.3f %8.3f %s %8.1f %6.1f MB %s %s\n", label, n, wall, cpu, rate, input / 1e6 / wall, kb / 1024, per, ratio
  }' "$results"
echo
echo "(wall s, cpu s: medians; members/s: members printed per second, both passes, by wall"
echo " time and by processor time; MB/s: input per wall second; B/member: peak RSS minus the"
echo " input file, per member; x ref: time relative to the reference at the same N, by wall"
echo " and by processor time. od rows count 4 members per record like the others."
echo " Raw figures: $results)"
