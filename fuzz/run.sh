#!/usr/bin/env bash
# Builds the fuzz targets with clang and runs one of them.
# usage: fuzz/run.sh FuzzCompile|FuzzProgram|FuzzStructured SECONDS [extra libFuzzer flags]
set -euo pipefail
target=$1; seconds=$2; shift 2
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build-fuzz
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVELLUM_FUZZ=ON -DVELLUM_TESTS=OFF -DVELLUM_SANITIZE=ON >/dev/null
cmake --build "$build" --target "$target" >/dev/null
corpus=$build/corpus-$target
mkdir -p "$corpus"
seeds=()
case $target in
  FuzzCompile) seeds=("$root"/fuzz/seeds-layout) ;;
  FuzzProgram) seeds=("$root"/fuzz/seeds-program) ;;
esac
"$root"/fuzz/make-seeds.sh "$root" >/dev/null
"$build/fuzz/$target" -max_total_time="$seconds" -max_len=8192 -rss_limit_mb=2048 -timeout=10 \
  -dict="$root/fuzz/vellum.dict" -print_final_stats=1 "$@" "$corpus" "${seeds[@]}" 2>&1 | tail -n 25
