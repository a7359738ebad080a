#!/usr/bin/env bash
# Files at and beyond 32-bit sizes, too slow and too large in memory for CI
# (run by hand: tests/stress/run-all.sh --slow). A sparse data file of 5 GiB
# is loaded whole, 64-bit sizes throughout, and read at its start, beyond
# 4 GiB and at its end; a layout file of 4 GiB - 1 bytes (all NUL: an empty
# text) is the largest one accepted. Skipped when the machine lacks the memory.
source "$(dirname "$0")/lib.sh"

gib=$((1 << 30))
available=$(awk '/^MemAvailable:/ { print int($2 / 1024) }' /proc/meminfo 2>/dev/null || echo 0)
if [ "$available" -lt 6500 ]; then
    echo "  skipped: $available MiB of memory available, 6500 needed"
    exit 0
fi

truncate -s $((5 * gib)) big.bin
printf '\x55\x66\x77\x88' | dd of=big.bin bs=1 seek=$((4 * gib + 16)) conv=notrunc status=none
printf '\x05\x06\x07\x08' | dd of=big.bin bs=1 seek=$((5 * gib - 4)) conv=notrunc status=none
cat >big.vlt <<'X'
struct Probe {
    u(4, hex) first;
    @(0x100000010) u(4, hex) beyond;
    @(size_of_file - 4) u(4, hex) last;
    print("size", size_of_file);
};
layout Probe;
X
label="5 GiB data file" run 300 5400 -layout big.vlt -data big.bin
expect_rc 0
expect_no_err
expect_out '             0h  first           0h '
expect_out '01 00 00 00 10h beyond 88 77 66 55h '
expect_out '01 3F FF FF FCh   last  8 07 06 05h '
expect_out '"size" 5368709120'

truncate -s $((4 * gib - 1)) huge.vlt
printf '\7' >small.bin
label="layout file of 4 GiB - 1 bytes" run 300 4300 -layout huge.vlt -data small.bin
expect_rc 0
expect_no_err
expect_out 'WARNING No members exported, this can be due to missing '"'"'layout'"'"' or because type had no members.'
