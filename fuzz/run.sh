#!/usr/bin/env bash
# Builds the fuzz targets with clang and runs one of them for a while.
# usage: fuzz/run.sh FuzzCompile|FuzzProgram|FuzzStructured SECONDS [extra libFuzzer flags]
#
# The corpus grows in build-fuzz/corpus-TARGET across runs; crash, leak,
# timeout and out-of-memory inputs land in build-fuzz/artifacts-TARGET/.
# Each run appends its final statistics (executions, corpus size) to
# build-fuzz/fuzz-log.txt, the running total kept for docs/RELIABILITY.md.
# A finding makes the script exit non-zero.
set -euo pipefail
target=$1; seconds=$2; shift 2
case $target in
  FuzzCompile|FuzzProgram|FuzzStructured) ;;
  *) echo "unknown fuzz target $target" >&2; exit 2 ;;
esac
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VELLUM_FUZZ_BUILD:-$root/build-fuzz}
buildlog=$(mktemp)
trap 'rm -f "$buildlog"' EXIT
if ! { CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
         -DVELLUM_FUZZ=ON -DVELLUM_TESTS=OFF -DVELLUM_SANITIZE=ON &&
       cmake --build "$build" --target "$target"; } >"$buildlog" 2>&1; then
  tail -n 40 "$buildlog" >&2
  echo "fuzz/run.sh: building $target failed" >&2
  exit 1
fi
corpus=$build/corpus-$target
artifacts=$build/artifacts-$target
mkdir -p "$corpus" "$artifacts"
# Text targets start from the golden cases and examples and mutate with the
# language's dictionary; the structured target's input steers a generator,
# so neither seeds nor dictionary of layout text help it.
seeds=()
dict=(-dict="$root/fuzz/vellum.dict")
case $target in
  FuzzCompile) seeds=("$root"/fuzz/seeds-layout) ;;
  FuzzProgram) seeds=("$root"/fuzz/seeds-program) ;;
  FuzzStructured) dict=() ;;
esac
"$root"/fuzz/make-seeds.sh "$root" >/dev/null
log=$(mktemp)
trap 'rm -f "$buildlog" "$log"' EXIT
status=0
# -rss_limit_mb: a run that needs more than 1 GiB is a finding (layouts and
# data this small must never need that much); -timeout: 10 s for one input.
"$build/fuzz/$target" -max_total_time="$seconds" -max_len=8192 -rss_limit_mb=1024 -timeout=10 \
  -malloc_limit_mb=1024 -artifact_prefix="$artifacts/" "${dict[@]}" \
  -print_final_stats=1 "$@" "$corpus" "${seeds[@]}" >"$log" 2>&1 || status=$?
tail -n 30 "$log"
execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
units=$(ls "$corpus" | wc -l)
printf '%s %s seconds=%s executions=%s corpus=%s status=%s\n' "$(date -u +%FT%TZ)" "$target" \
  "$seconds" "${execs:-0}" "$units" "$status" >>"$build/fuzz-log.txt"
exit "$status"
