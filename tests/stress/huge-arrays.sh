#!/usr/bin/env bash
# Arrays of 2^31 and 2^40 elements over a 10-byte file: a count that fits in
# 32 bits runs until the data ends (an invalid address after the tenth
# element), a larger one is an invalid array count at once, for scalar and
# struct elements alike, and memory stays small either way. Elements that
# read nothing, kept for a member path, stop at the member-record limit of a
# run instead of filling the machine's memory.
source "$(dirname "$0")/lib.sh"

printf '\0\1\2\3\4\5\6\7\10\11' >tiny.bin

# layout LABEL DECLARATIONS - a root S holding the declarations, plus types
# T (reads a byte) and F (reads a byte and steps back over it).
try() {
    echo "struct T { u(1) x; }; struct F { u(1) x; @ -= 1; }; struct S { $2 }; layout S;" >a.vlt
    label="$1" run 60 1024 -layout a.vlt -data tiny.bin
    expect_rc 2
}

try "2^31 bytes over 10" 'u(1) a[0x80000000];'
expect_err "Invalid address of member 'a' (specified address is 10, size of file is 10)"
expect_out '09h a[9] 9 '
[ "$peak" -lt 64 ] || fail "$peak MiB for ten elements"

try "2^31 bytes over 10, read by path" 'u(1) a[0x80000000]; var z = a[9];'
expect_err "Invalid address of member 'a' (specified address is 10, size of file is 10)"
[ "$peak" -lt 64 ] || fail "$peak MiB for ten elements"

try "2^40 bytes over 10" 'u(1) a[0x10000000000];'
expect_err "Invalid array count of 'a' (specified count is 1099511627776)."
expect_out 'WARNING No members exported, this can be due to missing '"'"'layout'"'"' or because type had no members.'

try "2^31 structs over 10" 'T a[0x80000000]; var z = a[0].x;'
expect_err "Invalid address of member 'x' (specified address is 10, size of file is 10)"
expect_out 'T (.a[9])'

try "2^40 structs over 10" 'T a[0x10000000000];'
expect_err "Invalid array count of 'a' (specified count is 1099511627776)."

try "2^31 structs reading nothing, by path" 'hidden F a[0x80000000]; var z = a[3].x;'
grep -q "^Member records of one run are limited to 1024 MiB; the run stops at member '[ax]'.\$" err ||
    fail "no member-record limit report"
