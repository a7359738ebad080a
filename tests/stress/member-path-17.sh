#!/usr/bin/env bash
# Member paths at the limit: 16 steps through 15 nested struct types (16
# levels with the root, the deepest a run allows) read the innermost value;
# a 17th step is a compile error at the name of that step.
source "$(dirname "$0")/lib.sh"

printf '\52' >d.bin

# chain LEVELS STEPS - types T0 (one scalar) to T(LEVELS-1), each holding the
# one before as member c, and a root whose path names STEPS members.
chain() {
    echo 'struct T0 { u(1) x; };'
    awk -v n="$1" 'BEGIN { for (i = 1; i < n; i++) printf "struct T%d { T%d c; };\n", i, i - 1 }'
    printf 'struct Root { T%d c; var v = c' $(( $1 - 1 ))
    for _ in $(seq $(( $2 - 2 ))); do printf '.c'; done
    echo '.x; print("v", v); };'
    echo 'layout Root;'
}

chain 15 16 >path16.vlt
label="member path of 16 steps" run 60 1024 -layout path16.vlt -data d.bin
expect_rc 0
expect_no_err
expect_out '"v" 42'
expect_out 'T0 (.c)'

chain 16 17 >path17.vlt
label="member path of 17 steps" run 60 1024 -layout path17.vlt -data d.bin
expect_rc 1
expect_err 'ERROR Member path too long (at most 16 steps).'
[ "$(sed -n 2p err)" = "$(chars 80 ' ')~" ] || fail "marker not under the 17th name"
expect_lines 0
