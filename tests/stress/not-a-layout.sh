#!/usr/bin/env bash
# Files that are no layout at all, given as the layout: a megabyte of stray
# characters on one line and a megabyte of random bytes (no NUL, which would
# end the text). Each ends with a bounded listing of invalid tokens (or a
# compile error), quickly, whatever the file's lines look like.
source "$(dirname "$0")/lib.sh"

printf '\1' >d.bin

chars 1000000 '~' >tildes.vlt
label="1 MB of stray characters on one line" run 60 1024 -layout tildes.vlt -data d.bin
expect_rc 1
expect_err 'Invalid tokens in layout file:'
expect_err '... and 999900 more invalid tokens.'
[ "$(wc -l <err)" = 202 ] || fail "listing of $(wc -l <err) lines, expected 202"
[ "$(stat -c %s err)" -lt 250000000 ] || fail "listing of $(stat -c %s err) bytes"
expect_lines 0

# Random bytes with every NUL replaced, so the whole megabyte is text.
head -c 1000000 /dev/urandom | tr '\0' '\1' >random.vlt
label="1 MB of random bytes" run 60 1024 -layout random.vlt -data d.bin
expect_rc 1
grep -q -e '^Invalid tokens in layout file:$' -e '^ERROR ' err || fail "neither invalid tokens nor a compile error"
[ "$(wc -l <err)" -le 203 ] || fail "listing of $(wc -l <err) lines"
expect_lines 0
