#!/usr/bin/env bash
# Collects seed inputs from the golden cases and the examples: layouts alone
# for FuzzCompile, layout + "\n%%\n" + data for FuzzProgram (cases run with
# -debug get the "//-debug" first line that asks FuzzProgram for the trace).
set -eu
root=$1
mkdir -p "$root/fuzz/seeds-layout" "$root/fuzz/seeds-program"
n=0
for dir in "$root"/tests/cases/*/ "$root"/examples/*/; do
  [ -f "$dir/args" ] || continue
  args=$(cat "$dir/args")
  layout=$(sed -n 's/.*-layout \([^ ]*\).*/\1/p' <<<"$args")
  data=$(sed -n 's/.*-data \([^ ]*\).*/\1/p' <<<"$args")
  [ -n "$layout" ] && [ -f "$dir/$layout" ] || continue
  n=$((n+1))
  cp "$dir/$layout" "$root/fuzz/seeds-layout/seed$n"
  { case " $args " in *" -debug "*) echo "//-debug" ;; esac
    cat "$dir/$layout"; printf '\n%%%%\n'; if [ -n "$data" ] && [ -f "$dir/$data" ]; then head -c 4096 "$dir/$data"; fi; } \
    > "$root/fuzz/seeds-program/seed$n"
done
echo "$n seeds"
