#!/usr/bin/env bash
# Runs one golden case folder: args (one line), the files it names, expected.stdout,
# expected.stderr and expected.rc (0 when absent). The program runs in a scratch copy of
# the folder and is started as `vellum`, so the usage text names it that way.
# usage: run_case.sh PATH/TO/vellum CASE-DIR
set -u
bin=$(realpath "$1"); case=$(realpath "$2")
scratch=$(mktemp -d); shim=$(mktemp -d); work=$scratch/case
trap 'rm -rf "$scratch" "$shim"' EXIT
ln -s "$bin" "$shim/vellum"
mkdir "$work"
cp -r "$case"/. "$work"/
# A lib/ folder beside the case comes along (the examples include ../lib/...).
if [ -d "$case/../lib" ]; then cp -r "$case/../lib" "$scratch/lib"; fi
( cd "$work" && PATH="$shim:$PATH" eval "exec timeout 60 vellum $(cat args)" >"$work/.out" 2>"$work/.err" </dev/null ); rc=$?
want_rc=$(cat "$case/expected.rc" 2>/dev/null || echo 0)
ok=1
if ! cmp -s "$work/.out" "$case/expected.stdout"; then
  ok=0; echo "--- standard output differs (want / got):"
  diff <(cat -A "$case/expected.stdout") <(cat -A "$work/.out") | head -40
fi
if ! cmp -s "$work/.err" "$case/expected.stderr"; then
  ok=0; echo "--- standard error differs (want / got):"
  diff <(cat -A "$case/expected.stderr") <(cat -A "$work/.err") | head -40
fi
if [ "$rc" != "$want_rc" ]; then ok=0; echo "--- exit status: want $want_rc, got $rc"; fi
[ $ok = 1 ]
