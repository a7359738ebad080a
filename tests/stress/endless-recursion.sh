#!/usr/bin/env bash
# Struct recursion without end, in every form a layout can write it: a type
# holding itself, two types holding each other, a type measuring itself with
# sizeof, a category choosing the same type again, and a list whose data never
# ends it. Each run stops at the nesting limit with its report, at once.
source "$(dirname "$0")/lib.sh"

head -c 100 /dev/zero | tr '\0' '\1' >ones.bin

check() {  # check LABEL LAYOUT - the run stops with the nesting report
    echo "$2" >r.vlt
    label="$1" run 30 512 -layout r.vlt -data ones.bin
    expect_rc 2
    expect_err 'Struct instances nested deeper than 16 levels.'
}

check "type holding itself" 'struct R { u(1) x; R next; }; layout R;'
expect_lines 32  # 16 headers and 16 members; the run stops before any struct ends
check "type holding only itself" 'struct R { R next; }; layout R;'
check "two types holding each other" 'struct (C, 1) A { u(1) a; C[2] b; }; struct (C, 2) B { u(1) b; A a; }; layout A;'
check "type measuring itself" 'struct R { u(1) x; var n = sizeof(R); }; layout R;'
check "category choosing itself" 'struct (C, 1) R { u(1) tag; C[tag] next; }; layout C[1];'
check "list the data never ends" 'struct L { u(1) more; if (more) { L next; } }; layout L;'

# The same list ends where the data says so.
printf '\1\1\1\0' >four.bin
echo 'struct L { u(1) more; if (more) { L next; } }; layout L;' >r.vlt
label="list the data ends" run 30 512 -layout r.vlt -data four.bin
expect_rc 0
expect_no_err
expect_out '03h more 0 '
