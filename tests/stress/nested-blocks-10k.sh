#!/usr/bin/env bash
# Nesting 10,000 deep: if blocks, an else-if chain, parentheses and block
# comments compile and run; 10,000 nested loops need more values than a frame
# holds and 10,000 blocks left open at the end are rejected, both with a
# clear compile error.
source "$(dirname "$0")/lib.sh"

printf '\7' >d.bin

{ echo 'struct S { u(1) x;'
  repeat 10000 'if (x != # + 10000) {'
  echo '@ = 0; u(1) inner;'
  repeat 10000 '}'
  echo '}; layout S;'; } >if.vlt
label="10,000 nested if blocks" run 60 1024 -layout if.vlt -data d.bin
expect_rc 0
expect_no_err
expect_out '0h inner 7 '

{ echo 'struct S { u(1) x;'
  repeat 10000 'if (x == #) { print("hit #"); } else'
  echo '{ print("none"); } };  layout S;'; } >chain.vlt
label="else-if chain of 10,000 links" run 60 1024 -layout chain.vlt -data d.bin
expect_rc 0
expect_no_err
expect_out '"hit 7"'

{ echo 'struct S { u(1) x; var y = '
  chars 10000 '('; printf 'x'; chars 10000 ')'
  echo '; print("y", y); }; layout S;'; } >parens.vlt
label="10,000 nested parentheses" run 60 1024 -layout parens.vlt -data d.bin
expect_rc 0
expect_no_err
expect_out '"y" 7'

{ for _ in $(seq 10000); do printf '/*'; done
  printf ' comment '
  for _ in $(seq 10000); do printf '*/'; done
  echo ' struct S { u(1) x; }; layout S;'; } >comments.vlt
label="10,000 nested block comments" run 60 1024 -layout comments.vlt -data d.bin
expect_rc 0
expect_no_err
expect_out '0h x 7 '

{ echo 'struct S { u(1) x;'
  repeat 10000 'while (x != #) {'
  repeat 10000 '}'
  echo '}; layout S;'; } >while.vlt
label="10,000 nested while loops (too many values)" run 60 1024 -layout while.vlt -data d.bin
expect_rc 1
expect_err 'ERROR Too many values in one struct body (a frame holds 64 slots).'

{ echo 'struct S { u(1) x;'
  repeat 10000 'if (x != #) {'; } >open.vlt
label="10,000 blocks left open" run 60 1024 -layout open.vlt -data d.bin
expect_rc 1
expect_err '<end of data>'
expect_err 'ERROR A block in struct S is not closed: expected } before the end of the layout.'
