#!/usr/bin/env bash
# Names of 100,000 characters: a struct type, scalar and array members and
# enumeration values are shown within the fixed widths of header lines (255
# characters), name columns (255) and value texts (128), array indices kept
# whole; a print message of that length is printed whole; a compile error and
# an invalid token at the end of a 100,000-character line show their excerpt.
source "$(dirname "$0")/lib.sh"

n=$(chars 100000 n)
printf '\7\1\2\3\4\5\6\7\10\11\12\13\14\3' >d.bin

echo "enum E { V$n = 7, W$n = 1, X$n = 2 };
struct T$n { u(1) m$n; u(1) a$n[12]; E(1) e; };
struct R { T$n t; print(\"$n\"); };
layout R;" >names.vlt
label="names of 100,000 characters" run 60 1024 -layout names.vlt -data d.bin
expect_rc 0
expect_no_err
expect_lines 19
longest=$(awk '{ if (length($0) > m) m = length($0) } END { print m }' <(head -n 17 out))
[ "$longest" -le 400 ] || fail "a member line of $longest characters"
[ "$(sed -n 2p out | wc -c)" = 256 ] || fail "header line is not 255 characters long"
sed -n 2p out | grep -q 'nnn (\.t)$' || fail "header line does not end with the member name"
grep -q "nnn\[11\] " out || fail "array index cut off"
# 3 is W|X: the flag names joined, cut after 128 characters.
grep -q '^0Dh  *e '"W$(chars 127 n) \$" out || fail "enumeration value not cut to 128 characters"
[ "$(sed -n 18p out)" = "\"$n\"" ] || fail "print message not printed whole"

echo "struct S { u(1) x$n; u(1) y$n ]; }; layout S;" >error.vlt
label="error after a 100,000-character name" run 60 1024 -layout error.vlt -data d.bin
expect_rc 1
expect_err 'Invalid tokens in layout file:'
[ "$(sed -n 2p err)" = "error.vlt(1,200027): struct S { u(1) x$n; u(1) y$n ]; }; layout S;" ] ||
    fail "excerpt of the invalid token"
[ "$(sed -n 3p err)" = "$(chars 200047 ' ')~" ] || fail "marker under the invalid token"

echo "struct S { u(1) x$n; u(1) y$n z; }; layout S;" >compile.vlt
label="compile error after a 100,000-character name" run 60 1024 -layout compile.vlt -data d.bin
expect_rc 1
expect_err 'ERROR Expected punctuation ;'
