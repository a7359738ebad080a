// gen.cpp - deterministic input files for the benchmarks.
//
// Three kinds of file, all reproducible bit for bit from the command line:
//   gen records N FILE   N records {u32 id; u16 kind; s16 delta; f32 value},
//                        little-endian, 12 bytes each
//   gen bytes SIZE FILE  SIZE bytes of pseudo-random data
//   gen layout SIZE FILE a layout text of about SIZE bytes: many struct
//                        definitions with members, conditions, loops and a
//                        category, and no layout statement, so that running it
//                        over an empty data file measures compilation alone
// The pseudo-random numbers come from a fixed-seed splitmix64 sequence.
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct VLBenchRandom {
    uint64_t state;
};

uint64_t VLBenchNext(VLBenchRandom* random) {
    uint64_t z = (random->state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

void VLBenchPut(uint8_t* out, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out[i] = uint8_t(value >> (8 * i));
}

bool VLBenchWriteAll(FILE* file, const void* data, size_t size) {
    return size == 0 || fwrite(data, 1, size, file) == size;
}

// Records: id counts up from 0; kind is 0..3 (the category key of the nested
// layout); delta is any 16-bit value; value is a float with two decimal places
// of magnitude below 200 000, so its printed form varies in length.
bool VLBenchWriteRecords(FILE* file, uint64_t count) {
    VLBenchRandom random{0x5EED0001};
    std::vector<uint8_t> block(12 * 65536);
    uint64_t done = 0;
    while (done < count) {
        uint64_t n = count - done < 65536 ? count - done : 65536;
        for (uint64_t i = 0; i < n; ++i) {
            uint64_t r = VLBenchNext(&random);
            uint8_t* record = block.data() + 12 * i;
            int32_t hundredths = int32_t(int64_t(r >> 32) % 40000001) - 20000000;
            float value = float(hundredths) / 100.0f;
            uint32_t bits;
            memcpy(&bits, &value, 4);
            VLBenchPut(record, uint32_t(done + i), 4);
            VLBenchPut(record + 4, r & 3, 2);
            VLBenchPut(record + 6, (r >> 8) & 0xFFFF, 2);
            VLBenchPut(record + 8, bits, 4);
        }
        if (!VLBenchWriteAll(file, block.data(), 12 * n)) return false;
        done += n;
    }
    return true;
}

bool VLBenchWriteBytes(FILE* file, uint64_t size) {
    VLBenchRandom random{0x5EED0002};
    std::vector<uint8_t> block(1 << 20);
    uint64_t done = 0;
    while (done < size) {
        uint64_t n = size - done < block.size() ? size - done : block.size();
        for (uint64_t i = 0; i < n; i += 8) VLBenchPut(block.data() + i, VLBenchNext(&random), 8);
        if (!VLBenchWriteAll(file, block.data(), n)) return false;
        done += n;
    }
    return true;
}

// One struct definition of the generated layout. Every statement form used here
// gives its slots back when it ends (member declarations, if/else, for), so the
// layout can hold any number of definitions.
void VLBenchAppendStruct(std::string* text, uint64_t number, VLBenchRandom* random) {
    char buffer[2048];
    uint64_t r = VLBenchNext(random);
    int length = snprintf(buffer, sizeof buffer,
        "// Definition %" PRIu64 ": a header, a choice by its fields, a loop, earlier types.\n"
        "struct (Shape, %" PRIu64 ") T%" PRIu64 " {\n"
        "    u(4, hex) magic;\n"
        "    u(2) count;\n"
        "    s(2, big) delta;\n"
        "    if (count > %u && magic != 0x%04X) {\n"
        "        u(1) flags[count %% 8 + 1];\n"
        "    } else if (delta < -%u) {\n"
        "        f(4) ratio;\n"
        "    } else {\n"
        "        string(4) tag;\n"
        "    }\n"
        "    for (var i = 0; i < %u; i += 1) {\n"
        "        raw(2) pad;\n"
        "        u(2, binary, big) mask;\n"
        "    }\n"
        "    @(external magic & 0xFF) u(2) peek;\n"
        "    hidden u(1) skip;\n"
        "    Level(1) level;\n"
        "    assert((count * 3 + delta) / 2 != 0x7FFFFFFF || magic == %u);\n",
        number, number, number, unsigned(r % 16), unsigned((r >> 8) & 0xFFFF),
        unsigned((r >> 24) % 300), unsigned(1 + (r >> 40) % 4), unsigned((r >> 44) % 1000));
    text->append(buffer, size_t(length));
    if (number > 0) {
        length = snprintf(buffer, sizeof buffer,
            "    T%" PRIu64 " previous;\n"
            "    Shape[count & %u] chosen[2];\n",
            (r >> 50) % number, unsigned(number < 8 ? 0 : 7));
        text->append(buffer, size_t(length));
    }
    text->append("};\n\n");
}

bool VLBenchWriteLayout(FILE* file, uint64_t size) {
    VLBenchRandom random{0x5EED0003};
    std::string text =
        "// Generated layout for the compile-time benchmark: definitions only.\n"
        "default(endianess = little);\n"
        "enum Level { Low = 1, Mid = Low << 1, High = Mid << 1, All = Low | Mid | High };\n\n";
    for (uint64_t number = 0; text.size() < size; ++number) VLBenchAppendStruct(&text, number, &random);
    return VLBenchWriteAll(file, text.data(), text.size());
}

void VLBenchUsage(const char* program) {
    fprintf(stderr,
            "usage: %s records N FILE | bytes SIZE FILE | layout SIZE FILE\n"
            "  records: N records of 12 bytes {u32 id; u16 kind; s16 delta; f32 value}\n"
            "  bytes:   SIZE pseudo-random bytes\n"
            "  layout:  a layout text of about SIZE bytes (definitions only)\n",
            program);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        VLBenchUsage(argv[0]);
        return 2;
    }
    char* end = nullptr;
    uint64_t amount = strtoull(argv[2], &end, 10);
    if (!end || *end != 0 || end == argv[2]) {
        VLBenchUsage(argv[0]);
        return 2;
    }
    FILE* file = fopen(argv[3], "wb");
    if (!file) {
        fprintf(stderr, "cannot create %s\n", argv[3]);
        return 1;
    }
    bool ok = false;
    if (strcmp(argv[1], "records") == 0) {
        ok = VLBenchWriteRecords(file, amount);
    } else if (strcmp(argv[1], "bytes") == 0) {
        ok = VLBenchWriteBytes(file, amount);
    } else if (strcmp(argv[1], "layout") == 0) {
        ok = VLBenchWriteLayout(file, amount);
    } else {
        fclose(file);
        VLBenchUsage(argv[0]);
        return 2;
    }
    if (fclose(file) != 0) ok = false;
    if (!ok) {
        fprintf(stderr, "cannot write %s\n", argv[3]);
        return 1;
    }
    return 0;
}
