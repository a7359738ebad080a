#!/usr/bin/env bash
# 5,000 struct types: all used by one root; all in one category chosen by a
# key read from the data; each one containing the one before (stopped by the
# nesting limit); and 5,000 definitions of one name (the last one counts).
source "$(dirname "$0")/lib.sh"

head -c 5000 /dev/zero | tr '\0' '\7' >d.bin

{ repeat 5000 'struct T# { u(1) a; };'
  echo 'struct Root {'
  repeat 5000 'T# m#;'
  echo '}; layout Root;'; } >types.vlt
label="5,000 struct types in one root" run 60 1024 -layout types.vlt -data d.bin
expect_rc 0
expect_no_err
expect_lines 15002
expect_out 'T4999 (.m4999)'
expect_out '13 87h a 7 '

printf '\xe1\x10\x09' >key.bin  # key 0x10e1 = 4321, little-endian; then a byte for T4321
{ repeat 5000 'struct (C, #) T# { u(1) a#; };'
  echo 'struct Root { u(2) tag; C[tag] body; }; layout Root;'; } >category.vlt
label="5,000 struct types in one category" run 60 1024 -layout category.vlt -data key.bin
expect_rc 0
expect_no_err
expect_out ' 0h   tag 4 321 '
expect_out 'T4321 (.body)'
expect_out '02h a4321     9 '

{ echo 'struct T0 { u(1) a; };'
  awk 'BEGIN { for (i = 1; i < 5000; i++) printf "struct T%d { u(1) a; T%d inner; };\n", i, i - 1 }'
  echo 'layout T4999;'; } >chain.vlt
label="5,000 struct types nested in a chain" run 60 1024 -layout chain.vlt -data d.bin
expect_rc 2
expect_err 'Struct instances nested deeper than 16 levels.'
expect_out 'T4984 (.inner)'

{ repeat 5000 'struct T { u(1) v#; };'
  echo 'layout T;'; } >same.vlt
label="5,000 struct types of one name" run 60 1024 -layout same.vlt -data d.bin
expect_rc 0
expect_no_err
expect_out '0h v4999 7 '
