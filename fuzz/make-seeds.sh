#!/usr/bin/env bash
# Collects seed inputs from the golden cases and the examples: layouts alone
# for FuzzCompile, layout + "\n%%\n" + data for FuzzProgram (cases run with
# -debug get the "//-debug" first line that asks FuzzProgram for the trace;
# the files a layout includes are appended to it, see fuzz/FuzzSupport.cpp).
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
  # Files the layout includes follow its text, each after "//@file PATH".
  { cat "$dir/$layout"
    (cd "$dir" && find . -name '*.vlt' ! -path "./$layout" | sort | sed 's|^\./||') | while read -r file; do
      printf '\n//@file %s\n' "$file"; cat "$dir/$file"
    done
    if grep -q '"\.\./lib/' "$dir/$layout"; then  # the examples' shared files
      for file in "$root"/examples/lib/*.vlt; do
        printf '\n//@file ../lib/%s\n' "${file##*/}"; cat "$file"
      done
    fi; } > "$root/fuzz/seeds-layout/seed$n"
  { case " $args " in *" -debug "*) echo "//-debug" ;; esac
    cat "$root/fuzz/seeds-layout/seed$n"; printf '\n%%%%\n'; if [ -n "$data" ] && [ -f "$dir/$data" ]; then head -c 4096 "$dir/$data"; fi; } \
    > "$root/fuzz/seeds-program/seed$n"
done
echo "$n seeds"
