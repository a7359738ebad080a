#!/usr/bin/env bash
# A data file of 1 GiB (sparse, so it costs no disk) read by a small layout:
# the file is loaded whole with its 64-bit size, members at its start, in the
# middle and at its last bytes are read, and the run needs little more memory
# than the file itself. A layout file of 4 GiB is refused before it is read.
source "$(dirname "$0")/lib.sh"

gib=$((1 << 30))
truncate -s "$gib" big.bin
printf '\x11\x22\x33\x44' | dd of=big.bin bs=1 seek=$((gib / 2)) conv=notrunc status=none
printf '\x01\x02\x03\x04' | dd of=big.bin bs=1 seek=$((gib - 4)) conv=notrunc status=none
cat >big.vlt <<'X'
struct Probe {
    u(4, hex) first;
    @(size_of_file / 2) u(4, hex) middle;
    @(size_of_file - 4) u(4, hex) last;
    print("size", size_of_file);
};
layout Probe;
X
label="1 GiB data file" run 60 1300 -layout big.vlt -data big.bin
expect_rc 0
expect_no_err
expect_out '          0h  first           0h '
expect_out '20 00 00 00h middle 44 33 22 11h '
expect_out '3F FF FF FCh   last  4 03 02 01h '
expect_out '"size" 1073741824'
[ "$peak" -lt 1200 ] || fail "$peak MiB for a 1024 MiB file"

truncate -s $((4 * gib)) huge.vlt
printf '\7' >small.bin
label="4 GiB layout file" run 60 256 -layout huge.vlt -data small.bin
expect_rc 255
[ "$(cat err)" = 'Layout file huge.vlt is too large (4294967296 bytes); layout files must be smaller than 4 GiB.' ] ||
    fail "refusal of the layout file"
expect_lines 0
