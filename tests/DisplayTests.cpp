// DisplayTests.cpp - the member display: value formatters (bytes + flags ->
// text), the widths the measuring pass computes without building texts, the
// name and header texts, the column table, and whole member lines over a
// hand-built runtime.
#include <gtest/gtest.h>

#include <bit>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "Display.h"
#include "TestSupport.h"

namespace {

constexpr int32_t U = VLInstructionType_ScalarMemberU;
constexpr int32_t S = VLInstructionType_ScalarMemberS;
constexpr int32_t F = VLInstructionType_ScalarMemberF;
constexpr uint32_t Big = VLMemberFlag_BigEndian;
constexpr uint32_t Raw = VLMemberFlag_Raw;
constexpr uint32_t Hex = VLDisplayType_Hex;
constexpr uint32_t Bin = VLDisplayType_Binary;
constexpr uint32_t Oct = VLDisplayType_Octal;
constexpr uint32_t Str = VLDisplayType_String;

// "78 56 34 12" -> bytes.
std::vector<uint8_t> Bytes(const char* hex) {
    std::vector<uint8_t> bytes;
    for (const char* p = hex; *p;) {
        if (*p == ' ') { ++p; continue; }
        bytes.push_back(uint8_t(std::stoul(std::string(p, 2), nullptr, 16)));
        p += 2;
    }
    return bytes;
}

VLString Name(const std::string& text) { return {uint32_t(text.size()), text.data()}; }
VLString Name(const char* text) { return {uint32_t(strlen(text)), text}; }

std::string FormatValue(int32_t type, uint32_t flags, const VLEnum* enumeration, const VLMemberBytes& bytes) {
    char buffer[VLValueTextLimit];
    uint32_t length = VLFormatValue(type, flags, enumeration, &bytes, buffer);
    EXPECT_LE(length, uint32_t(VLValueTextLimit));
    EXPECT_EQ(length, VLValueWidth(type, flags, enumeration, &bytes)) << "measured width differs";
    return std::string(buffer, length);
}

// One member over its own data: `size` bytes at `address`, the data being `data`.
struct ValueRow {
    const char* why;
    const char* data;
    uint64_t address;
    uint64_t size;
    int32_t type;
    uint32_t flags;
    const char* text;
};

TEST(DisplayValue, FormatsByKindAndDisplaySettings) {
    const ValueRow rows[] = {
        // decimal: groups of three, signs, sizes
        {"decimal groups", "87 D6 12 00", 0, 4, U, 0, "1 234 567"},
        {"three digits have no group", "E7 03", 0, 2, U, 0, "999"},
        {"a fourth digit opens a group", "E8 03", 0, 2, U, 0, "1 000"},
        {"zero", "00 00 00 00", 0, 4, U, 0, "0"},
        {"signed two bytes FF FF", "FF FF", 0, 2, S, 0, "-1"},
        {"signed minimum of 8 bytes", "00 00 00 00 00 00 00 80", 0, 8, S, 0, "-9 223 372 036 854 775 808"},
        {"unsigned maximum of 8 bytes", "FF FF FF FF FF FF FF FF", 0, 8, U, 0, "18 446 744 073 709 551 615"},
        {"signed byte 80", "80", 0, 1, S, 0, "-128"},
        {"unsigned byte 80", "80", 0, 1, U, 0, "128"},
        {"signed positive", "FF 7F", 0, 2, S, 0, "32 767"},
        {"signed 3 bytes", "00 00 80", 0, 3, S, 0, "-8 388 608"},
        {"big-endian unsigned", "10 27", 0, 2, U, Big, "4 135"},
        {"big-endian signed", "FF FE", 0, 2, S, Big, "-2"},
        {"member at an offset", "00 00 10 27", 2, 2, U, 0, "10 000"},
        {"member past the end reads 0", "05 06", 1, 2, U, 0, "0"},
        {"16 bytes are too big", "01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10", 0, 16, U, 0,
         "Big integer evaluations not supported at this time. Sorry :("},
        // hexadecimal
        {"hex little-endian", "78 56 34 12", 0, 4, U, Hex, "12 34 56 78h"},
        {"hex big-endian", "78 56 34 12", 0, 4, U, Hex | Big, "78 56 34 12h"},
        {"hex raw ignores order", "78 56 34 12", 0, 4, U, Hex | Raw | Big, "0x78563412"},
        {"hex raw keeps leading zeros, uppercase", "00 AB CD EF", 0, 4, U, Hex | Raw, "0x00ABCDEF"},
        {"hex leading zeros left out", "00 01 00 00", 0, 4, U, Hex, "1 00h"},
        {"hex worked example", "42 4D 01 00", 0, 4, U, Hex, "1 4D 42h"},
        {"hex zero", "00 00", 0, 2, U, Hex, "0h"},
        {"hex high digit starts", "00 10", 0, 2, U, Hex, "10 00h"},
        {"hex uppercase", "FE CA", 0, 2, S, Hex, "CA FEh"},
        {"hex of 16 bytes", "01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10", 0, 16, U, Hex,
         "10 0F 0E 0D 0C 0B 0A 09 08 07 06 05 04 03 02 01h"},
        {"hex past the end reads zero bytes", "AB", 0, 2, U, Hex, "ABh"},
        {"hex big-endian past the end", "AB", 0, 2, U, Hex | Big, "AB 00h"},
        // binary
        {"binary byte 5", "05", 0, 1, U, Bin, "0000 0101b"},
        {"binary big-endian", "01 02", 0, 2, U, Bin | Big, "0000 0001  0000 0010b"},
        {"binary little-endian", "01 02", 0, 2, U, Bin, "0000 0010  0000 0001b"},
        {"binary raw in file order", "01 02", 0, 2, U, Bin | Raw, "0b0000000100000010"},
        // the texts for combinations without a formatter
        {"octal", "01", 0, 1, U, Oct, "TODO Add octal display support."},
        {"octal raw", "01", 0, 1, U, Oct | Raw, "TODO Add octal display support."},
        {"float of 3 bytes", "01 02 03", 0, 3, F, 0, "TODO Only single (4) and double (8) precision floats supported."},
        {"float size comes before display", "01 02 03", 0, 3, F, Hex, "TODO Only single (4) and double (8) precision floats supported."},
        {"float binary", "00 00 C0 3F", 0, 4, F, Bin, "TODO Add base 2 float support."},
        {"float octal", "00 00 C0 3F", 0, 4, F, Oct, "TODO Add base 8 float support?"},
        {"float hex", "00 00 C0 3F", 0, 4, F, Hex, "TODO Add base 16 float support."},
        // floats
        {"single little-endian", "00 00 C0 3F", 0, 4, F, 0, "1.500000"},
        {"single big-endian is decoded big-endian", "3F C0 00 00", 0, 4, F, Big, "1.500000"},
        {"single little-endian of big-endian bytes", "3F C0 00 00", 0, 4, F, 0, "0.000000"},
        {"double little-endian", "00 00 00 00 00 00 F0 BF", 0, 8, F, 0, "-1.000000"},
        {"double big-endian", "40 09 21 FB 54 44 2D 18", 0, 8, F, Big, "3.141593"},
        {"single rounds to six decimals", "00 00 80 3B", 0, 4, F, 0, "0.003906"},
        {"single infinity", "00 00 80 FF", 0, 4, F, 0, "-inf"},
        {"single NaN", "00 00 C0 7F", 0, 4, F, 0, "nan"},
        {"negative zero", "00 00 00 80", 0, 4, F, 0, "-0.000000"},
        {"float past the end is zero", "00 00 C0 3F", 2, 4, F, 0, "0.000000"},
        {"largest single in full", "FF FF 7F 7F", 0, 4, F, 0, "340282346638528859811704183484516925440.000000"},
        {"double too long for the text uses exponent form", "A0 C8 EB 85 F3 CC E1 7F", 0, 8, F, 0,
         "1.000000e+308"},
        // strings
        {"string", "48 69", 0, 2, U, Str, "\"Hi\""},
        {"string escapes", "00 07 08 09 0A 0B 0C 0D 1B 22 5C", 0, 11, U, Str,
         "\"\\0\\a\\b\\t\\n\\v\\f\\r\\e\\\"\\\\\""},
        {"string other bytes as lowercase hex", "01 1F 7F 80 FF", 0, 5, U, Str, "\"\\x01\\x1f\\x7f\\x80\\xff\""},
        {"string quote and space as themselves", "27 20 7E", 0, 3, U, Str, "\"' ~\""},
        {"string past the end reads NUL", "41", 0, 3, U, Str, "\"A\\0\\0\""},
    };
    for (const ValueRow& row : rows) {
        std::vector<uint8_t> data = Bytes(row.data);
        VLMemberBytes bytes = {data.data(), data.size(), row.address, row.size};
        EXPECT_EQ(FormatValue(row.type, row.flags, nullptr, bytes), row.text) << row.why;
    }
}

// Texts that reach the 128-character limit: generated data, expected length and ending.
struct LimitRow {
    const char* why;
    uint8_t fill;
    uint64_t size;
    uint32_t flags;
    uint32_t length;
    const char* ending;
};

TEST(DisplayValue, CutsLongTextsAt128Characters) {
    const LimitRow rows[] = {
        {"string of 200 bytes has no closing quote", 'a', 200, Str, 128, "aaaa"},
        {"string filling 128 exactly has no closing quote", 'a', 127, Str, 128, "aaaa"},
        {"string of 127 characters gets its quote", 'a', 126, Str, 128, "aaa\""},
        {"escapes cut in the middle", 0x01, 40, Str, 128, "\\x0"},
        {"raw hex keeps 63 bytes", 0xAB, 100, Hex | Raw, 128, "ABAB"},
        {"raw hex of 63 bytes fits exactly", 0xAB, 63, Hex | Raw, 128, "ABAB"},
        {"raw hex of 62 bytes", 0xAB, 62, Hex | Raw, 126, "ABAB"},
        {"hex without its suffix when cut", 0xCD, 100, Hex, 128, "CD CD"},
        {"hex of 43 bytes loses only its suffix", 0xCD, 43, Hex, 128, "CD CD"},
        {"hex of 42 bytes fits", 0xCD, 42, Hex, 126, "CD CDh"},
        {"binary of 11 bytes has its suffix", 0x0F, 11, Bin, 120, "1111b"},
        {"binary of 12 bytes is cut", 0x0F, 12, Bin, 128, "0000 11"},
        {"raw binary cut", 0x0F, 20, Bin | Raw, 128, "00001111000011"},
        {"raw binary of 15 bytes", 0x0F, 15, Bin | Raw, 122, "00001111"},
    };
    for (const LimitRow& row : rows) {
        std::vector<uint8_t> data(row.size, row.fill);
        VLMemberBytes bytes = {data.data(), data.size(), 0, row.size};
        std::string text = FormatValue(U, row.flags, nullptr, bytes);
        EXPECT_EQ(text.size(), row.length) << row.why;
        EXPECT_TRUE(text.ends_with(row.ending)) << row.why << ": " << text;
    }
    std::vector<uint8_t> printable(200);
    for (size_t i = 0; i < printable.size(); ++i) printable[i] = uint8_t('a' + i % 26);
    VLMemberBytes bytes = {printable.data(), printable.size(), 0, printable.size()};
    std::string text = FormatValue(U, Str, nullptr, bytes);
    EXPECT_EQ(text, "\"" + std::string(printable.begin(), printable.begin() + 127));
}

TEST(DisplayValue, HugeMemberOutsideTheDataEndsQuickly) {
    // Bytes past the data read as zero; a member far larger than the data must
    // not be walked byte by byte for its leading zeros.
    std::vector<uint8_t> data = Bytes("01 02");
    VLMemberBytes bytes = {data.data(), data.size(), 0, uint64_t(1) << 60};
    EXPECT_EQ(FormatValue(U, Hex, nullptr, bytes), "2 01h");
    bytes.address = uint64_t(1) << 62;
    EXPECT_EQ(FormatValue(U, Hex | Big, nullptr, bytes), "0h");
    EXPECT_EQ(FormatValue(U, Hex, nullptr, bytes), "0h");
}

// Single floats take a hand-written path; it must give the library's "%f" text.
TEST(DisplayValue, SingleFloatsMatchTheLibraryText) {
    std::mt19937_64 random(7);
    std::vector<uint32_t> patterns;
    for (int i = 0; i < 1000000; ++i) patterns.push_back(uint32_t(random()));
    for (int k = 0; k < 4096; ++k) {  // exact ties at the sixth decimal (k/128) and their neighbours
        float tie = float(k) / 128.0f;
        uint32_t bits = std::bit_cast<uint32_t>(tie);
        for (uint32_t near : {bits - 1, bits, bits + 1, bits | 0x80000000u}) patterns.push_back(near);
    }
    for (float edge : {0.0f, -0.0f, 1.0f, 0.5e-6f, 1e-7f, 1099511627775.0f, 1099511627776.0f, 3.4e38f,
                       1e-45f, 123456.79f})
        patterns.push_back(std::bit_cast<uint32_t>(edge));
    for (uint32_t bits : patterns) {
        uint8_t data[4];
        memcpy(data, &bits, 4);
        VLMemberBytes bytes = {data, 4, 0, 4};
        char expected[400];
        int length = snprintf(expected, sizeof expected, "%f", double(std::bit_cast<float>(bits)));
        ASSERT_EQ(FormatValue(F, 0, nullptr, bytes), std::string(expected, size_t(length))) << std::hex << bits;
    }
}

// Enumerations: a small table of entries, then values to show.
struct EnumRow {
    const char* why;
    const char* data;
    uint64_t size;
    uint32_t flags;
    const char* text;
};

TEST(DisplayValue, EnumerationNamesAndFlags) {
    std::vector<std::string> names = {"Read", "Write", "Exec", "Both", "None", "Again", "Huge"};
    std::vector<int64_t> values = {1, 2, 4, 3, 0, 1, int64_t(0x8000000000000000ull)};
    std::vector<VLEnumValue> entries(names.size());
    for (size_t i = 0; i < names.size(); ++i)
        entries[i] = {i + 1 < names.size() ? &entries[i + 1] : nullptr, Name(names[i]), values[i]};
    VLEnum enumeration = {nullptr, 0, Name("Access"), entries.data()};
    VLEnum empty = {nullptr, 0, Name("Empty"), nullptr};

    const EnumRow rows[] = {
        {"exact match", "02", 1, Raw | Hex, "Write"},
        {"first of equal values wins", "01 00", 2, Raw | Hex, "Read"},
        {"zero entry", "00", 1, Raw | Hex, "None"},
        {"64-bit comparison", "00 00 00 00 00 00 00 80", 8, Raw | Hex, "Huge"},
        {"big-endian order", "00 03", 2, Raw | Hex | Big, "Both"},
        {"flags decompose in declaration order", "07", 1, Raw | Hex, "Read|Write|Exec"},
        {"unknown bits follow as hex", "46", 1, Raw | Hex, "Write|Exec|40h"},
        {"no flag at all", "30 12", 2, Raw | Hex, "1230h"},
        {"remainder has no separators", "00 F0 0F 00", 4, Raw | Hex, "FF000h"},
        {"more than 8 bytes shows 0", "07 00 00 00 00 00 00 00 00", 9, Raw | Hex, "0"},
    };
    for (const EnumRow& row : rows) {
        std::vector<uint8_t> data = Bytes(row.data);
        VLMemberBytes bytes = {data.data(), data.size(), 0, row.size};
        EXPECT_EQ(FormatValue(U, row.flags, &enumeration, bytes), row.text) << row.why;
    }
    std::vector<uint8_t> zero = Bytes("00"), some = Bytes("09");
    VLMemberBytes zeroBytes = {zero.data(), 1, 0, 1}, someBytes = {some.data(), 1, 0, 1};
    EXPECT_EQ(FormatValue(U, Raw | Hex, &empty, zeroBytes), "0");
    EXPECT_EQ(FormatValue(U, Raw | Hex, &empty, someBytes), "9h");

    // Many long flag names: the text stops at 128 characters.
    std::vector<std::string> longNames;
    for (int i = 0; i < 8; ++i) longNames.push_back(std::string(30, char('A' + i)));
    std::vector<VLEnumValue> flags(8);
    for (int i = 0; i < 8; ++i) flags[i] = {i < 7 ? &flags[i + 1] : nullptr, Name(longNames[i]), int64_t(1) << i};
    VLEnum wide = {nullptr, 0, Name("Wide"), flags.data()};
    std::vector<uint8_t> all = Bytes("FF 01");
    VLMemberBytes allBytes = {all.data(), 2, 0, 2};
    std::string text = FormatValue(U, Raw | Hex, &wide, allBytes);
    EXPECT_EQ(text.size(), 128u);
    EXPECT_EQ(text.substr(0, 31), std::string(30, 'A') + "|");
}

// Every measured width equals the length of the text built for the same member.
TEST(DisplayValue, MeasuredWidthsMatchBuiltTexts) {
    std::mt19937_64 random(20240601);
    const int32_t types[] = {U, S, F};
    const uint32_t displays[] = {0, Bin, Oct, Hex, Str};
    std::vector<std::string> names = {"Zero", "One", "Two", "Big"};
    std::vector<VLEnumValue> entries(4);
    for (int i = 0; i < 4; ++i)
        entries[i] = {i < 3 ? &entries[i + 1] : nullptr, Name(names[i]), i == 3 ? 0x100 : i};
    VLEnum enumeration = {nullptr, 0, Name("E"), entries.data()};
    std::vector<uint8_t> data(64);
    for (int round = 0; round < 200000; ++round) {
        for (uint8_t& byte : data) {
            uint64_t r = random();
            byte = r % 3 == 0 ? 0 : uint8_t(r >> 8);  // plenty of zero bytes for leading zeros
        }
        uint64_t size = random() % 4 == 0 ? random() % 70 : random() % 9;
        uint64_t address = random() % 70;
        uint32_t flags = displays[random() % 5];
        if (random() % 2) flags |= Big;
        if (random() % 4 == 0) flags |= Raw;
        int32_t type = types[random() % 3];
        const VLEnum* enumPointer = random() % 8 == 0 ? &enumeration : nullptr;
        VLMemberBytes bytes = {data.data(), data.size(), address, size};
        char buffer[VLValueTextLimit];
        uint32_t length = VLFormatValue(type, flags, enumPointer, &bytes, buffer);
        ASSERT_EQ(length, VLValueWidth(type, flags, enumPointer, &bytes))
            << "type " << type << " flags " << flags << " size " << size << " address " << address;
    }
    for (int round = 0; round < 200000; ++round) {
        uint64_t value = random() >> (random() % 64);
        bool negative = random() % 2;
        char text[32];
        ASSERT_EQ(VLFormatGrouped(value, negative, text), VLGroupedWidth(value, negative)) << value;
        ASSERT_EQ(VLFormatAddress(value, text), VLAddressWidth(value)) << value;
        ASSERT_EQ(VLDecimalDigits(value), std::to_string(value).size());
    }
    // Digit counts change at the powers of ten: both sides of each.
    for (uint64_t power = 1, k = 0; k < 20; ++k, power *= 10) {
        for (uint64_t value : {power - 1, power, power + 1, power * 2 - 1})
            ASSERT_EQ(VLDecimalDigits(value), std::to_string(value).size()) << value;
    }
    EXPECT_EQ(VLDecimalDigits(UINT64_MAX), 20u);
}

TEST(DisplayNumbers, AddressesAndGroups) {
    const struct { uint64_t address; const char* text; } addresses[] = {
        {0, "0h"}, {5, "05h"}, {0x1A2B, "1A 2Bh"}, {0x100, "01 00h"}, {300, "01 2Ch"},
        {0xFF, "FFh"}, {~uint64_t(0), "FF FF FF FF FF FF FF FFh"},
    };
    for (const auto& row : addresses) {
        char text[VLAddressTextLimit];
        EXPECT_EQ(std::string(text, VLFormatAddress(row.address, text)), row.text);
    }
    const struct { uint64_t value; bool negative; const char* text; } groups[] = {
        {0, false, "0"}, {7, true, "-7"}, {100, false, "100"}, {1234567, false, "1 234 567"},
        {1000000, false, "1 000 000"}, {10000, false, "10 000"}, {100200, true, "-100 200"},
    };
    for (const auto& row : groups) {
        char text[32];
        EXPECT_EQ(std::string(text, VLFormatGrouped(row.value, row.negative, text)), row.text);
    }
}

TEST(DisplayNames, NameColumnAndHeaders) {
    const struct { const char* name; bool isArray; uint64_t indexWidth; uint32_t index; const char* text; } rows[] = {
        {"count", false, 0, 0, "count"},
        {"item", true, 0, 7, "item[7]"},
        {"item", true, 2, 0, "item[ 0]"},
        {"item", true, 2, 11, "item[11]"},
        {"item", true, 1, 123, "item[123]"},  // a wider index than measured is shown whole
        {"item", true, 10, 4294967295u, "item[4294967295]"},
    };
    for (const auto& row : rows) {
        char text[VLNameTextLimit + 1];
        uint32_t length = VLFormatMemberName(Name(row.name), row.isArray, row.indexWidth, row.index, text);
        EXPECT_EQ(std::string(text, length), row.text);
        EXPECT_EQ(length, VLMemberNameWidth(Name(row.name), row.isArray, row.indexWidth, row.index));
    }
    std::string longName(300, 'n');
    char text[VLNameTextLimit + 1];
    uint32_t length = VLFormatMemberName(Name(longName), true, 3, 42, text);
    EXPECT_EQ(std::string(text, length), std::string(250, 'n') + "[ 42]");
    EXPECT_EQ(length, VLMemberNameWidth(Name(longName), true, 3, 42));
    EXPECT_EQ(VLFormatMemberName(Name(longName), false, 0, 0, text), 255u);

    const struct { const char* type; const char* member; bool isArray; uint64_t index; const char* text; } headers[] = {
        {"Header", "", false, 0, "Header"},
        {"Header", "head", false, 0, "Header (.head)"},
        {"Chunk", "chunks", true, 12, "Chunk (.chunks[12])"},
    };
    for (const auto& row : headers) {
        length = VLFormatStructHeader(Name(row.type), Name(row.member), row.isArray, row.index, text);
        EXPECT_EQ(std::string(text, length), row.text);
    }
    // Too long for a line: the names share the room, the decorations stay.
    std::string typeName(200, 'T'), memberName(200, 'm'), shortName = "Short";
    length = VLFormatStructHeader(Name(typeName), Name(memberName), true, 5, text);
    EXPECT_EQ(std::string(text, length), std::string(124, 'T') + " (." + std::string(124, 'm') + "[5])");
    length = VLFormatStructHeader(Name(shortName), Name(memberName + memberName), false, 0, text);
    EXPECT_EQ(std::string(text, length), "Short (." + std::string(246, 'm') + ")");
    length = VLFormatStructHeader(Name(typeName + typeName), Name(""), false, 0, text);
    EXPECT_EQ(length, 255u);
}

std::string Captured(const VLWriter& writer) { return std::string(writer.buffer, writer.used); }

TEST(DisplayColumns, PadsRightAlignedWithTrailingSpace) {
    VLColumns columns = {};
    VLWriter out;
    VLWriterInitMemory(&out);
    VLPrintColumn(&columns, nullptr, "abc", 3);
    VLPrintColumn(&columns, nullptr, "x", 1);
    EXPECT_EQ(columns.current, 2u);
    EXPECT_EQ(columns.widths[0], 3u);
    columns.current = 0;
    VLPrintColumn(&columns, &out, "a", 1);
    VLPrintColumn(&columns, &out, "", 0);  // an empty text adds no column
    VLPrintColumn(&columns, &out, "yz", 2);
    VLPrintStructEnd(&columns, &out);
    EXPECT_EQ(Captured(out), "  a yz \n");
    EXPECT_EQ(columns.current, 0u);
    EXPECT_EQ(columns.widths[1], 2u);
    for (int i = 0; i < 70; ++i) VLPrintColumn(&columns, nullptr, "q", 1);
    EXPECT_EQ(columns.current, 63u);  // the last column takes every further text
    VLPrintStructEnd(&columns, nullptr);
    EXPECT_EQ(columns.current, 0u);
    VLWriterFree(&out);
}

// ---------------------------------------------------------------------------
// Whole lines over a hand-built runtime: frames with slots, data and types.
// ---------------------------------------------------------------------------
struct MemberSpec {
    const char* name;
    int32_t type;
    uint32_t flags;
    int64_t address;
    int64_t size;
};

struct FakeRun {
    VLRuntimeFrame global = {};
    VLRuntimeFrame inner = {};
    VLRuntime runtime = {};
    std::vector<uint8_t> data;

    FakeRun(std::vector<uint8_t> bytes, uint32_t stackCount) : data(std::move(bytes)) {
        runtime.data = data.data();
        runtime.dataSize = data.size();
        runtime.stackCount = stackCount;
        inner.parent = &global;
        runtime.frames = stackCount > 1 ? &inner : &global;
    }
};

VLInstruction ScalarMember(const char* name, int32_t type, uint32_t flags, bool isArray) {
    VLInstruction instruction = {};
    instruction.type = type;
    instruction.scalarExport.name = {uint32_t(strlen(name)), name};
    instruction.scalarExport.address = {VLLocationKind_Global, 0, 1};
    instruction.scalarExport.size = {VLLocationKind_Local, 0, 2};
    instruction.scalarExport.flags = flags;
    if (isArray) instruction.scalarExport.arrayCount = {VLLocationKind_Local, 0, 3};
    return instruction;
}

// Runs the members through both passes: measure all, then print all.
std::string TwoPasses(FakeRun* run, const std::vector<MemberSpec>& specs) {
    std::vector<VLInstruction> members;
    for (const MemberSpec& spec : specs) members.push_back(ScalarMember(spec.name, spec.type, spec.flags, false));
    VLColumns columns = {};
    VLWriter out;
    VLWriterInitMemory(&out);
    for (int pass = 0; pass < 2; ++pass) {
        for (size_t i = 0; i < specs.size(); ++i) {
            run->global.slots[1] = specs[i].address;
            run->runtime.frames->slots[2] = specs[i].size;
            VLPrintMember(&members[i], &run->runtime, &columns, pass ? &out : nullptr);
        }
        VLPrintStructEnd(&columns, pass ? &out : nullptr);
    }
    std::string text = Captured(out);
    VLWriterFree(&out);
    return text;
}

TEST(DisplayLines, WorkedExampleByteForByte) {
    FakeRun run(Bytes("42 4D 01 00 10 27 FE FF"), 2);
    std::string text = TwoPasses(&run, {{"magic", U, Hex, 0, 4}, {"count", U, 0, 4, 2}, {"delta", S, 0, 6, 2}});
    EXPECT_EQ(text, " 0h magic 1 4D 42h \n04h count   10 000 \n06h delta       -2 \n\n");
}

TEST(DisplayLines, AddressAndNameColumnsWiden) {
    std::vector<uint8_t> data(301, 7);
    FakeRun run(data, 2);
    std::string text = TwoPasses(&run, {{"a", U, 0, 0, 1}, {"bbbbb", U, 0, 1, 1}, {"ccc", U, 0, 300, 1}});
    EXPECT_EQ(text, "    0h     a 7 \n   01h bbbbb 7 \n01 2Ch   ccc 7 \n\n");
}

// The measuring pass skips the bytes of an integer whose widest possible text
// fits the value column already; the extreme values of every size still widen
// a column one character narrower.
TEST(DisplayLines, MeasuringWidensForTheExtremeIntegersOfEverySize) {
    for (int64_t size = 1; size <= 8; ++size) {
        for (bool isSigned : {false, true}) {
            std::vector<uint8_t> data(8, isSigned ? 0x00 : 0xFF);  // all ones, or the sign bit alone
            if (isSigned) data[size - 1] = 0x80;
            FakeRun run(data, 2);
            run.global.slots[1] = 0;
            run.inner.slots[2] = size;
            VLInstruction member = ScalarMember("v", isSigned ? S : U, 0, false);
            VLMemberBytes bytes = {data.data(), data.size(), 0, uint64_t(size)};
            char text[VLValueTextLimit];
            uint32_t widest = VLFormatDecimal(&bytes, 0, isSigned, text);
            for (uint32_t before : {widest - 1, widest, widest + 3}) {
                VLColumns columns = {};
                columns.widths[2] = before;
                VLPrintMember(&member, &run.runtime, &columns, nullptr);
                EXPECT_EQ(columns.widths[2], std::max(before, widest))
                    << "size " << size << (isSigned ? " signed" : " unsigned") << " from " << before;
            }
        }
    }
}

TEST(DisplayLines, ArrayIndicesArePaddedToTheWidestIndex) {
    std::vector<uint8_t> data(12);
    for (int i = 0; i < 12; ++i) data[i] = uint8_t(i * 10);
    FakeRun run(data, 2);
    VLInstruction member = ScalarMember("value", U, 0, true);
    VLColumns columns = {};
    VLWriter out;
    VLWriterInitMemory(&out);
    for (int pass = 0; pass < 2; ++pass) {
        for (uint32_t i = 0; i < 12; ++i) {
            run.global.slots[1] = i;
            run.inner.slots[2] = 1;
            run.runtime.arrayIndices[0] = i;
            VLPrintMember(&member, &run.runtime, &columns, pass ? &out : nullptr);
        }
        if (pass == 0) {
            EXPECT_EQ(member.indexWidth, 2u);
        }
    }
    std::string text = Captured(out);
    EXPECT_TRUE(text.starts_with(" 0h value[ 0]   0 \n01h value[ 1]  10 \n")) << text;
    EXPECT_TRUE(text.ends_with("0Bh value[11] 110 \n")) << text;
    VLWriterFree(&out);
}

// The longest texts of every column: an 8-byte address, a name cut to 255
// characters, a 128-character value.
TEST(DisplayLines, LongestTextsFitTheLine) {
    std::string name(300, 'n');
    std::vector<uint8_t> data(200, 'x');
    FakeRun run(data, 2);
    VLInstruction member = ScalarMember(name.c_str(), U, Str, false);
    run.global.slots[1] = int64_t(0x0123456789ABCDEFull);
    run.inner.slots[2] = 200;
    VLColumns columns = {};
    VLWriter out;
    VLWriterInitMemory(&out);
    for (int pass = 0; pass < 2; ++pass) VLPrintMember(&member, &run.runtime, &columns, pass ? &out : nullptr);
    std::string value = "\"";  // bytes past the data read as NUL, each shown as \0
    while (value.size() < 128) value += "\\0";
    value.resize(128);
    EXPECT_EQ(Captured(out), "01 23 45 67 89 AB CD EFh " + std::string(255, 'n') + " " + value + " \n");
    VLWriterFree(&out);
}

// Columns far wider than any member text (set by other callers of the column
// table) take the line out in parts; the bytes are the same.
TEST(DisplayLines, VeryWideColumnsPadExactly) {
    FakeRun run(Bytes("07"), 2);
    VLInstruction member = ScalarMember("a", U, 0, false);
    run.inner.slots[2] = 1;
    VLColumns columns = {};
    columns.widths[0] = 3;
    columns.widths[1] = 700;
    columns.widths[2] = 900;
    VLWriter out;
    VLWriterInitMemory(&out);
    VLPrintMember(&member, &run.runtime, &columns, &out);
    EXPECT_EQ(Captured(out), " 0h " + std::string(699, ' ') + "a " + std::string(899, ' ') + "7 \n");
    VLWriterFree(&out);
}

TEST(DisplayLines, StructHeaders) {
    std::string names[2] = {"Header", "Chunk"};
    VLTypeChunk* chunk = new VLTypeChunk{};
    chunk->count = 2;
    for (uint32_t i = 0; i < 2; ++i) {
        chunk->items[i].name = Name(names[i]);
        chunk->items[i].index = i;
    }
    VLTypeList types = {2, chunk, chunk};

    // Three frames: global, the enclosing body (holds the type index in slot 4),
    // and the frame the push has just added.
    VLRuntimeFrame global = {}, body = {}, pushed = {};
    body.parent = &global;
    pushed.parent = &body;
    VLRuntime runtime = {};
    runtime.stackCount = 3;
    runtime.frames = &pushed;
    runtime.types = &types;
    runtime.arrayIndices[0] = 4;
    body.slots[4] = 1;

    VLInstruction push = {};
    push.type = VLInstructionType_PushFrame;
    push.pushFrame.typeIndex = {VLLocationKind_Local, 0, 4};
    VLWriter out;
    VLWriterInitMemory(&out);
    VLPrintStructHeader(&push, &runtime, nullptr);  // measuring pass: nothing
    VLPrintStructHeader(&push, &runtime, &out);
    push.pushFrame.name = Name("chunk");
    VLPrintStructHeader(&push, &runtime, &out);
    push.pushFrame.arrayCount = {VLLocationKind_Local, 0, 5};
    VLPrintStructHeader(&push, &runtime, &out);
    body.slots[4] = 7;  // no such type: no line
    VLPrintStructHeader(&push, &runtime, &out);
    body.slots[4] = -1;
    VLPrintStructHeader(&push, &runtime, &out);
    EXPECT_EQ(Captured(out), "Chunk\nChunk (.chunk)\nChunk (.chunk[4])\n");
    VLWriterFree(&out);
    delete chunk;
}

}  // namespace
