#!/usr/bin/env bash
# A layout of 100,000 statements, once inside one struct body (members,
# cursor assignments, assertions over member values and print statements) and
# once at the top level (struct definitions, byte-order defaults, assertions,
# print statements and breakpoints). Both compile and run to the end.
source "$(dirname "$0")/lib.sh"

printf '\7\7' >d.bin

# 25,000 groups of 4 statements in one body; every member reads the same byte.
{ echo 'struct S {'
  repeat 25000 'u(1) a#; @ -= 1; assert(a# == 7); print("a#", a#);'
  echo '}; layout S;'; } >body.vlt
label="100,000 statements in one struct body" run 60 1024 -layout body.vlt -data d.bin
expect_rc 0
expect_no_err
expect_lines 50002
expect_out '0h a24999 7 '
expect_out '"a24999" 7'

# 20,000 groups of 5 top-level statements, then a root over the first and the
# last struct type.
{ repeat 20000 'default(endianess = big); struct T# { u(1) x; }; assert(# == #); print("t#"); breakpoint();'
  echo 'struct Root { T0 first; T19999 last; @ = 0; T7 again; }; layout Root;'; } >top.vlt
label="100,000 statements at the top level" run 60 1024 -layout top.vlt -data d.bin
expect_rc 0
expect_no_err
expect_out '"t19999"'
expect_out 'T19999 (.last)'
expect_lines 20011
