// reference.cpp - the practical floor for the records benchmark.
//
// A hand-written program that prints, byte for byte, what Vellum prints for
// bench/records.vlt over a records file: the root header "File", then per record
// the header "Record (.records[i])", four member lines (id, kind, delta, value)
// in right-aligned columns each followed by one space, and an empty line; one
// more empty line when the root ends. Like Vellum it makes two passes: the
// first measures the widest address, name and value texts, the second formats
// every line by hand into a large buffer written in big blocks.
//
//   reference FILE        print the listing of FILE to standard output
//   reference --selftest  compare the hand-written formatters with snprintf
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

// Column texts are written backwards into a cell of 128 bytes whose first 64
// hold spaces, ending at offset 64; a right-aligned column of width w is then
// the 64 bytes copied from offset 64 - w, of which the first w are kept. The
// widest text here ("%f" of a float) has 47 characters.
enum : size_t { VLRefCellEnd = 64, VLRefBufferSize = 1 << 22, VLRefRecordRoom = 1024 };

const char VLRefHexDigits[] = "0123456789ABCDEF";

struct VLRefCell {
    char chars[128];
};

struct VLRefOut {
    char* buffer;
    size_t used;
};

void VLRefFlush(VLRefOut* out) {
    if (out->used) fwrite(out->buffer, 1, out->used, stdout);
    out->used = 0;
}

inline void VLRefPut(VLRefOut* out, const char* chars, size_t length) {
    memcpy(out->buffer + out->used, chars, length);
    out->used += length;
}

inline void VLRefClear(VLRefCell* cell) { memset(cell->chars, ' ', VLRefCellEnd); }

// Copies a right-aligned column of `width` characters and its trailing space.
inline void VLRefPutCell(VLRefOut* out, const VLRefCell* cell, uint32_t width) {
    memcpy(out->buffer + out->used, cell->chars + VLRefCellEnd - width, VLRefCellEnd);
    out->used += width;
    out->buffer[out->used++] = ' ';
}

// Decimal digits of v, written backwards ending at `end`; returns the start.
inline char* VLRefDigitsBackwards(char* end, uint64_t v) {
    do {
        *--end = char('0' + v % 10);
        v /= 10;
    } while (v);
    return end;
}

// Decimal in groups of three separated by one space, with a leading '-' when
// negative: 1234567 is "1 234 567".
inline uint32_t VLRefGroupedLength(uint64_t magnitude, bool negative) {
    uint32_t digits = 1;
    while (magnitude >= 10) {
        magnitude /= 10;
        ++digits;
    }
    return digits + (digits - 1) / 3 + (negative ? 1 : 0);
}

// Writes the grouped decimal backwards ending at `end`; returns its length.
inline uint32_t VLRefGrouped(char* end, uint64_t magnitude, bool negative) {
    char* p = end;
    int inGroup = 0;
    do {
        if (inGroup == 3) {
            *--p = ' ';
            inGroup = 0;
        }
        *--p = char('0' + magnitude % 10);
        magnitude /= 10;
        ++inGroup;
    } while (magnitude);
    if (negative) *--p = '-';
    return uint32_t(end - p);
}

// Address column: uppercase hexadecimal, two digits per byte, bytes separated
// by one space, leading zero bytes left out, 'h' at the end; 0 is "0h".
// Written backwards ending at `end`; returns its length.
inline uint32_t VLRefAddress(char* end, uint64_t address) {
    char* p = end;
    *--p = 'h';
    if (address == 0) {
        *--p = '0';
        return 2;
    }
    for (;;) {
        uint32_t byte = uint32_t(address) & 0xFF;
        *--p = VLRefHexDigits[byte & 15];
        *--p = VLRefHexDigits[byte >> 4];
        address >>= 8;
        if (!address) break;
        *--p = ' ';
    }
    return uint32_t(end - p);
}

// "%f" of a float widened to double, exactly as printf rounds it (to nearest,
// ties to even, on the exact binary value). Finite values below 2^40 take the
// integer path; the rest (never produced by the generator) go to snprintf.
// Writes the text backwards ending at `end` unless `end` is null (measuring);
// returns its length.
inline uint32_t VLRefFloat(char* end, uint32_t bits) {
    uint32_t exponent = (bits >> 23) & 0xFF;
    uint64_t mantissa = bits & 0x7FFFFF;
    bool negative = bits >> 31;
    int shift;  // value = mantissa * 2^shift
    if (exponent == 0) {
        shift = -149;
    } else {
        mantissa |= 0x800000;
        shift = int(exponent) - 150;
    }
    if (exponent == 0xFF || shift > 16) {
        float value;
        memcpy(&value, &bits, 4);
        char buffer[128];
        int n = snprintf(buffer, sizeof buffer, "%f", double(value));
        if (end) memcpy(end - n, buffer, size_t(n));
        return uint32_t(n);
    }
    // q = round(value * 10^6); mantissa * 10^6 < 2^44, so everything fits in 64 bits.
    uint64_t scaled = mantissa * 1000000u;
    uint64_t q;
    if (shift >= 0) {
        q = scaled << shift;
    } else if (-shift >= 63) {
        q = 0;  // below a quarter of a millionth
    } else {
        int s = -shift;
        q = scaled >> s;
        uint64_t rest = scaled & ((uint64_t(1) << s) - 1);
        uint64_t half = uint64_t(1) << (s - 1);
        if (rest > half || (rest == half && (q & 1))) ++q;
    }
    uint64_t whole = q / 1000000u;
    uint32_t fraction = uint32_t(q % 1000000u);
    if (!end) {
        uint32_t wholeDigits = 1;
        for (uint64_t w = whole; w >= 10; w /= 10) ++wholeDigits;
        return (negative ? 1 : 0) + wholeDigits + 7;
    }
    char* p = end;
    for (int i = 0; i < 6; ++i) {
        *--p = char('0' + fraction % 10);
        fraction /= 10;
    }
    *--p = '.';
    p = VLRefDigitsBackwards(p, whole);
    if (negative) *--p = '-';
    return uint32_t(end - p);
}

inline uint32_t VLRefRead32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

inline uint32_t VLRefRead16(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8; }

struct VLRefWidths {
    uint32_t address;
    uint32_t name;
    uint32_t value;
};

// Measuring pass: the widest text of each column over every member.
VLRefWidths VLRefMeasure(const uint8_t* data, uint64_t count) {
    VLRefWidths widths{0, 5, 0};  // names: id, kind, delta, value
    uint32_t widest = 0;
    for (uint64_t i = 0; i < count; ++i) {
        const uint8_t* record = data + 12 * i;
        int16_t delta = int16_t(VLRefRead16(record + 6));
        uint32_t lengths[4] = {
            VLRefGroupedLength(VLRefRead32(record), false),
            VLRefGroupedLength(VLRefRead16(record + 4), false),
            VLRefGroupedLength(uint64_t(delta < 0 ? -int32_t(delta) : delta), delta < 0),
            VLRefFloat(nullptr, VLRefRead32(record + 8)),
        };
        for (uint32_t length : lengths) widest = length > widest ? length : widest;
    }
    widths.value = widest;
    // Addresses grow with the record number, so the last member's is the widest.
    char last[32];
    widths.address = VLRefAddress(last + sizeof last, 12 * (count - 1) + 8);
    return widths;
}

// Printing pass. The name column of each member is the same on every line, so
// it is prepared once, right-aligned and with its trailing space.
void VLRefPrint(VLRefOut* out, const uint8_t* data, uint64_t count, const VLRefWidths* widths) {
    static const char* const names[4] = {"id", "kind", "delta", "value"};
    VLRefCell nameCells[4];
    for (int m = 0; m < 4; ++m) {
        VLRefClear(&nameCells[m]);
        size_t length = strlen(names[m]);
        memcpy(nameCells[m].chars + VLRefCellEnd - length, names[m], length);
    }
    VLRefCell address, value;
    VLRefClear(&address);
    VLRefClear(&value);
    char* addressEnd = address.chars + VLRefCellEnd;
    char* valueEnd = value.chars + VLRefCellEnd;
    VLRefPut(out, "File\n", 5);
    for (uint64_t i = 0; i < count; ++i) {
        if (out->used > VLRefBufferSize - VLRefRecordRoom) VLRefFlush(out);
        const uint8_t* record = data + 12 * i;
        uint64_t base = 12 * i;
        VLRefPut(out, "Record (.records[", 17);
        char digits[24];
        char* start = VLRefDigitsBackwards(digits + sizeof digits, i);
        VLRefPut(out, start, size_t(digits + sizeof digits - start));
        VLRefPut(out, "])\n", 3);
        for (int m = 0; m < 4; ++m) {
            static const uint32_t offsets[4] = {0, 4, 6, 8};
            const uint8_t* field = record + offsets[m];
            VLRefClear(&address);
            VLRefAddress(addressEnd, base + offsets[m]);
            VLRefClear(&value);
            if (m == 0) {
                VLRefGrouped(valueEnd, VLRefRead32(field), false);
            } else if (m == 1) {
                VLRefGrouped(valueEnd, VLRefRead16(field), false);
            } else if (m == 2) {
                int16_t delta = int16_t(VLRefRead16(field));
                VLRefGrouped(valueEnd, uint64_t(delta < 0 ? -int32_t(delta) : delta), delta < 0);
            } else {
                VLRefFloat(valueEnd, VLRefRead32(field));
            }
            VLRefPutCell(out, &address, widths->address);
            VLRefPutCell(out, &nameCells[m], widths->name);
            VLRefPutCell(out, &value, widths->value);
            out->buffer[out->used++] = '\n';
        }
        out->buffer[out->used++] = '\n';
    }
    out->buffer[out->used++] = '\n';
    VLRefFlush(out);
}

// Compares the float and grouped-decimal formatters with snprintf over edge
// cases and many pseudo-random bit patterns.
int VLRefSelfTest() {
    uint64_t failures = 0;
    auto checkFloat = [&](uint32_t bits) {
        float value;
        memcpy(&value, &bits, 4);
        char want[128];
        int n = snprintf(want, sizeof want, "%f", double(value));
        char got[128];
        char* end = got + sizeof got;
        uint32_t measured = VLRefFloat(nullptr, bits);
        uint32_t length = VLRefFloat(end, bits);
        if (uint32_t(n) != length || measured != length || memcmp(want, end - length, length) != 0) {
            if (failures++ < 10)
                fprintf(stderr, "float %08x: want %s, got %.*s\n", bits, want, int(length), end - length);
        }
    };
    const uint32_t edges[] = {0x00000000, 0x80000000, 0x00000001, 0x80000001, 0x007FFFFF, 0x00800000,
                              0x3C000000, 0x3F800000, 0xBF800000, 0x7F7FFFFF, 0xFF7FFFFF, 0x7F800000,
                              0xFF800000, 0x7FC00000, 0xFFC00000, 0x4B000000, 0x4AFFFFFF, 0x35000000,
                              0x35800000, 0x34FFFFFF, 0x53800000, 0x537FFFFF, 0x3A83126F, 0x358637BD};
    for (uint32_t bits : edges) checkFloat(bits);
    // Every exponent with a range of mantissas, then random patterns.
    for (uint32_t exponent = 0; exponent < 256; ++exponent)
        for (uint32_t m = 0; m < 4096; ++m) checkFloat(exponent << 23 | (m * 2049u & 0x7FFFFF) | (m & 1) << 31);
    uint64_t state = 12345;
    for (int i = 0; i < 4000000; ++i) {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        checkFloat(uint32_t(state >> 32));
    }
    for (int i = 0; i < 200000; ++i) {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        uint64_t v = state >> (i % 64);
        bool negative = i & 1;
        char got[48];
        char* end = got + sizeof got;
        uint32_t length = VLRefGrouped(end, v, negative);
        char plain[32];
        int n = snprintf(plain, sizeof plain, "%" PRIu64, v);
        char want[48];
        int w = 0;
        if (negative) want[w++] = '-';
        for (int d = 0; d < n; ++d) {
            if (d && (n - d) % 3 == 0) want[w++] = ' ';
            want[w++] = plain[d];
        }
        if (uint32_t(w) != length || VLRefGroupedLength(v, negative) != length ||
            memcmp(want, end - length, length) != 0) {
            if (failures++ < 10) fprintf(stderr, "decimal %" PRIu64 ": got %.*s\n", v, int(length), end - length);
        }
    }
    // Addresses: a few fixed forms.
    const struct {
        uint64_t address;
        const char* text;
    } addresses[] = {{0, "0h"}, {5, "05h"}, {0x1A2B, "1A 2Bh"}, {0x100, "01 00h"}, {0xFFFFFFFFFFFFFFFFull, "FF FF FF FF FF FF FF FFh"}};
    for (const auto& entry : addresses) {
        char got[48];
        char* end = got + sizeof got;
        uint32_t length = VLRefAddress(end, entry.address);
        if (length != strlen(entry.text) || memcmp(entry.text, end - length, length) != 0) {
            if (failures++ < 10) fprintf(stderr, "address %s: got %.*s\n", entry.text, int(length), end - length);
        }
    }
    printf("selftest: %" PRIu64 " failures\n", failures);
    return failures ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && strcmp(argv[1], "--selftest") == 0) return VLRefSelfTest();
    if (argc != 2) {
        fprintf(stderr, "usage: %s RECORDS-FILE | --selftest\n", argv[0]);
        return 2;
    }
    FILE* file = fopen(argv[1], "rb");
    if (!file) {
        fprintf(stderr, "cannot open %s\n", argv[1]);
        return 1;
    }
    fseek(file, 0, SEEK_END);
    long size = ftell(file);
    fseek(file, 0, SEEK_SET);
    if (size < 12) {
        fprintf(stderr, "%s holds no whole record\n", argv[1]);
        fclose(file);
        return 1;
    }
    std::vector<uint8_t> bytes(static_cast<size_t>(size));
    bool ok = fread(bytes.data(), 1, bytes.size(), file) == bytes.size();
    fclose(file);
    if (!ok) {
        fprintf(stderr, "cannot read %s\n", argv[1]);
        return 1;
    }
    uint64_t count = uint64_t(size) / 12;
    VLRefWidths widths = VLRefMeasure(bytes.data(), count);
    VLRefOut out{static_cast<char*>(malloc(VLRefBufferSize)), 0};
    if (!out.buffer) return 1;
    VLRefPrint(&out, bytes.data(), count, &widths);
    free(out.buffer);
    return 0;
}
