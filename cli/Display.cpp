// Display.cpp - member lines, struct headers and the value formatters.
//
// Every exported scalar member becomes one line of three right-aligned columns
// (address, name with its array index, value); a struct member opens with a
// header line and closes with an empty line. The measuring pass only records
// the widest text of each column and the widest array index of each member;
// the printing pass pads to those widths. This is the program's hot path, so
// the formatters are hand-written, a member line is written straight into the
// output buffer (its length is known from the widths before it is written),
// and the measuring pass computes most widths without building the texts (the
// results are the same lengths, byte for byte), skipping integers whose widest
// possible text fits the column already.
#include "Display.h"

#include <bit>
#include <charconv>
#include <cstring>

#include "CommandLine.h"
#include "output/Events.h"

static constexpr char VLHexDigits[] = "0123456789ABCDEF";

// "000" to "999", three characters each, for writing decimal groups at once.
struct VLDigitGroups {
    char chars[3000];
};
static constexpr VLDigitGroups VLMakeDigitGroups() {
    VLDigitGroups groups{};
    for (int i = 0; i < 1000; ++i) {
        groups.chars[3 * i] = char('0' + i / 100);
        groups.chars[3 * i + 1] = char('0' + i / 10 % 10);
        groups.chars[3 * i + 2] = char('0' + i % 10);
    }
    return groups;
}
static constexpr VLDigitGroups VLDigitGroupTable = VLMakeDigitGroups();

// "00" to "FF", two characters each.
struct VLHexPairs {
    char chars[512];
};
static constexpr VLHexPairs VLMakeHexPairs() {
    VLHexPairs pairs{};
    for (int i = 0; i < 256; ++i) {
        pairs.chars[2 * i] = VLHexDigits[i >> 4];
        pairs.chars[2 * i + 1] = VLHexDigits[i & 15];
    }
    return pairs;
}
static constexpr VLHexPairs VLHexPairTable = VLMakeHexPairs();

// A text under construction: characters past `limit` are dropped.
struct VLText {
    char* chars;
    uint32_t length;
    uint32_t limit;
};

static inline bool VLTextFull(const VLText* text) { return text->length >= text->limit; }

static inline void VLTextPut(VLText* text, char c) {
    if (text->length < text->limit) text->chars[text->length++] = c;
}

static void VLTextPutChars(VLText* text, const char* chars, uint64_t count) {
    uint64_t room = text->limit - text->length;
    uint32_t n = uint32_t(count < room ? count : room);
    memcpy(text->chars + text->length, chars, n);
    text->length += n;
}

// A value text length cut to the value text limit.
static uint32_t VLCapValue(uint64_t length) {
    return length < VLValueTextLimit ? uint32_t(length) : uint32_t(VLValueTextLimit);
}

static uint32_t VLCopyText(const char* text, char* buffer) {
    uint32_t length = uint32_t(strlen(text));
    memcpy(buffer, text, length);
    return length;
}

// ---------------------------------------------------------------------------
// Member bytes
// ---------------------------------------------------------------------------

// Bytes of the member that lie inside the data (the rest read as 0).
static uint64_t VLAvailableBytes(const VLMemberBytes* bytes) {
    if (bytes->address >= bytes->dataSize) return 0;
    uint64_t available = bytes->dataSize - bytes->address;
    return available < bytes->size ? available : bytes->size;
}

static inline uint64_t VLReverseBytes(uint64_t value) {
    value = (value & 0x00FF00FF00FF00FFull) << 8 | ((value >> 8) & 0x00FF00FF00FF00FFull);
    value = (value & 0x0000FFFF0000FFFFull) << 16 | ((value >> 16) & 0x0000FFFF0000FFFFull);
    return value << 32 | value >> 32;
}

static bool VLLiesInData(const VLMemberBytes* bytes) {
    return bytes->size <= bytes->dataSize && bytes->address <= bytes->dataSize - bytes->size;
}

uint8_t VLMemberByte(const VLMemberBytes* bytes, uint64_t index) {
    if (index >= VLAvailableBytes(bytes)) return 0;
    return bytes->data[bytes->address + index];
}

// The eight bytes at `first` as a little-endian number.
static inline uint64_t VLLoadLittle64(const uint8_t* first) {
    uint64_t value;
    memcpy(&value, first, 8);
    if constexpr (std::endian::native == std::endian::big) value = VLReverseBytes(value);
    return value;
}

// VLMemberValue, for the hot paths of this file.
static inline uint64_t VLValueOfBytes(const VLMemberBytes* bytes, bool bigEndian) {
    uint64_t size = bytes->size;
    if (size == 0 || size > 8 || !VLLiesInData(bytes)) return 0;
    const uint8_t* first = bytes->data + bytes->address;
    uint64_t value = 0;
    if (bytes->dataSize - bytes->address >= 8) {
        value = VLLoadLittle64(first);  // one load; the bytes past the member are masked off
        if (size < 8) value &= (uint64_t(1) << (8 * size)) - 1;
    } else {
        for (uint64_t i = size; i > 0; --i) value = value << 8 | first[i - 1];
    }
    if (bigEndian) value = VLReverseBytes(value) >> (64 - 8 * size);
    return value;
}

uint64_t VLMemberValue(const VLMemberBytes* bytes, bool bigEndian) { return VLValueOfBytes(bytes, bigEndian); }

// Byte number k of the member counted from its most significant byte.
static inline uint8_t VLSignificantByte(const VLMemberBytes* bytes, bool bigEndian, uint64_t k) {
    return VLMemberByte(bytes, bigEndian ? k : bytes->size - 1 - k);
}

// ---------------------------------------------------------------------------
// Numbers
// ---------------------------------------------------------------------------

// Plain decimal digits, no groups.
static uint32_t VLFormatUnsigned(uint64_t value, char* buffer) {
    char digits[20];
    char* cursor = digits + sizeof digits;
    do {
        *--cursor = char('0' + value % 10);
        value /= 10;
    } while (value);
    uint32_t length = uint32_t(digits + sizeof digits - cursor);
    memcpy(buffer, cursor, length);
    return length;
}

uint32_t VLFormatGrouped(uint64_t magnitude, bool negative, char* buffer) {
    char text[32];
    char* cursor = text + sizeof text;
    while (magnitude >= 1000) {
        cursor -= 3;
        memcpy(cursor, VLDigitGroupTable.chars + 3 * (magnitude % 1000), 3);
        *--cursor = ' ';
        magnitude /= 1000;
    }
    do {
        *--cursor = char('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude);
    if (negative) *--cursor = '-';
    uint32_t length = uint32_t(text + sizeof text - cursor);
    memcpy(buffer, cursor, length);
    return length;
}

uint32_t VLGroupedWidth(uint64_t magnitude, bool negative) {
    uint32_t digits = VLDecimalDigits(magnitude);
    return digits + (digits - 1) / 3 + (negative ? 1 : 0);
}

uint32_t VLFormatAddress(uint64_t address, char* buffer) {
    if (address == 0) {
        memcpy(buffer, "0h", 2);
        return 2;
    }
    uint32_t byteCount = uint32_t(std::bit_width(address) + 7) / 8;
    char* cursor = buffer;
    for (uint32_t i = byteCount; i > 0; --i) {
        uint32_t byte = uint32_t(address >> (8 * (i - 1))) & 0xFF;
        memcpy(cursor, VLHexPairTable.chars + 2 * byte, 2);
        cursor[2] = ' ';
        cursor += 3;
    }
    cursor[-1] = 'h';
    return uint32_t(cursor - buffer);
}

uint32_t VLAddressWidth(uint64_t address) {
    if (address == 0) return 2;
    return 3 * ((uint32_t(std::bit_width(address)) + 7) / 8);
}

// ---------------------------------------------------------------------------
// Value formatters
// ---------------------------------------------------------------------------

static const char VLBigIntegerText[] = "Big integer evaluations not supported at this time. Sorry :(";

// Magnitude and sign of an integer member as the decimal column shows it.
struct VLDecimalValue {
    uint64_t magnitude;
    bool negative;
};

static inline VLDecimalValue VLDecimalValueOf(const VLMemberBytes* bytes, uint32_t flags, bool isSigned) {
    uint64_t value = VLValueOfBytes(bytes, (flags & VLMemberFlag_BigEndian) != 0);
    uint64_t size = bytes->size;
    if (!isSigned || size == 0 || size > 8) return {value, false};
    uint32_t topBit = uint32_t(8 * size - 1);
    if (!((value >> topBit) & 1)) return {value, false};
    if (size < 8) value |= ~uint64_t(0) << (topBit + 1);  // sign-extend from `size` bytes
    return {~value + 1, true};
}

// Contract: the decimal column text: the big-integer text above 8 bytes, else
// the grouped digits of the value (0 when not wholly in the data), with the
// sign of a signed member whose top bit is set.
uint32_t VLFormatDecimal(const VLMemberBytes* bytes, uint32_t flags, bool isSigned, char* buffer) {
    if (bytes->size > 8) return VLCopyText(VLBigIntegerText, buffer);
    VLDecimalValue value = VLDecimalValueOf(bytes, flags, isSigned);
    return VLFormatGrouped(value.magnitude, value.negative, buffer);
}

static inline uint32_t VLDecimalWidth(const VLMemberBytes* bytes, uint32_t flags, bool isSigned) {
    if (bytes->size > 8) return uint32_t(sizeof VLBigIntegerText - 1);
    VLDecimalValue value = VLDecimalValueOf(bytes, flags, isSigned);
    return VLGroupedWidth(value.magnitude, value.negative);
}

// Raw hexadecimal: "0x" and every byte in file order, no separator, no suffix.
static void VLPutRawHex(VLText* text, const VLMemberBytes* bytes) {
    VLTextPut(text, '0');
    VLTextPut(text, 'x');
    for (uint64_t i = 0; i < bytes->size && !VLTextFull(text); ++i) {
        uint8_t byte = VLMemberByte(bytes, i);
        VLTextPut(text, VLHexDigits[byte >> 4]);
        VLTextPut(text, VLHexDigits[byte & 15]);
    }
}

// Contract: most significant byte first, leading zero digits left out, a
// space after each printed byte but the last, "h" at the end ("0h" for 0).
// With VLMemberFlag_Raw: "0x" and all digits in file order. At most `limit`
// characters; what does not fit is dropped, the suffix included.
uint32_t VLFormatHex(const VLMemberBytes* bytes, uint32_t flags, char* buffer, uint32_t limit) {
    VLText text = {buffer, 0, limit};
    if (flags & VLMemberFlag_Raw) {
        VLPutRawHex(&text, bytes);
        return text.length;
    }
    bool bigEndian = (flags & VLMemberFlag_BigEndian) != 0;
    uint64_t size = bytes->size;
    uint64_t available = VLAvailableBytes(bytes);
    // Leading bytes that lie past the data are zero and print nothing.
    uint64_t k = bigEndian ? 0 : size - available;
    bool started = false;
    for (; k < size && !VLTextFull(&text); ++k) {
        if (!started && bigEndian && k >= available) break;  // only zero bytes remain
        uint8_t byte = VLSignificantByte(bytes, bigEndian, k);
        if (!started && (byte >> 4)) started = true;
        if (started) VLTextPut(&text, VLHexDigits[byte >> 4]);
        if (!started && (byte & 15)) started = true;
        if (started) VLTextPut(&text, VLHexDigits[byte & 15]);
        if (started && k + 1 < size) VLTextPut(&text, ' ');
    }
    if (!started) VLTextPut(&text, '0');
    VLTextPut(&text, 'h');
    return text.length;
}

static uint32_t VLHexWidth(const VLMemberBytes* bytes, uint32_t flags) {
    if (flags & VLMemberFlag_Raw) return VLCapValue(2 + 2 * (bytes->size < 64 ? bytes->size : 64));
    if (bytes->size == 0 || bytes->size > 8 || !VLLiesInData(bytes)) {
        char scratch[VLValueTextLimit];
        return VLFormatHex(bytes, flags, scratch, VLValueTextLimit);
    }
    uint64_t value = VLValueOfBytes(bytes, (flags & VLMemberFlag_BigEndian) != 0);
    uint32_t digits = value ? (uint32_t(std::bit_width(value)) + 3) / 4 : 1;
    return digits + (digits + 1) / 2;  // a space between bytes, or the suffix after the last
}

static void VLPutBinaryByte(VLText* text, uint8_t byte, bool separated) {
    for (int bit = 7; bit >= 0; --bit) {
        VLTextPut(text, char('0' + ((byte >> bit) & 1)));
        if (bit == 4 && separated) VLTextPut(text, ' ');
    }
}

// Contract: eight digits per byte, highest bit first. Raw: "0b" and the bytes
// in file order. Otherwise most significant byte first, a space between the
// halves of a byte, two between bytes, "b" at the end. At most 128 characters.
uint32_t VLFormatBinary(const VLMemberBytes* bytes, uint32_t flags, char* buffer) {
    VLText text = {buffer, 0, VLValueTextLimit};
    uint64_t size = bytes->size;
    if (flags & VLMemberFlag_Raw) {
        VLTextPut(&text, '0');
        VLTextPut(&text, 'b');
        for (uint64_t i = 0; i < size && !VLTextFull(&text); ++i)
            VLPutBinaryByte(&text, VLMemberByte(bytes, i), false);
        return text.length;
    }
    bool bigEndian = (flags & VLMemberFlag_BigEndian) != 0;
    for (uint64_t k = 0; k < size && !VLTextFull(&text); ++k) {
        if (k > 0) {
            VLTextPut(&text, ' ');
            VLTextPut(&text, ' ');
        }
        VLPutBinaryByte(&text, VLSignificantByte(bytes, bigEndian, k), true);
    }
    VLTextPut(&text, 'b');
    return text.length;
}

static uint32_t VLBinaryWidth(const VLMemberBytes* bytes, uint32_t flags) {
    uint64_t size = bytes->size;
    if (size >= VLValueTextLimit) return VLValueTextLimit;
    uint64_t length = (flags & VLMemberFlag_Raw) ? 2 + 8 * size
                      : size == 0                ? 1
                                                 : 11 * size - 1;  // 9 per byte, 2 between, "b"
    return VLCapValue(length);
}

// Escape text of one byte of a string member.
static void VLPutEscaped(VLText* text, uint8_t byte) {
    char escape = 0;
    switch (byte) {
        case 0: escape = '0'; break;
        case 7: escape = 'a'; break;
        case 8: escape = 'b'; break;
        case 9: escape = 't'; break;
        case 10: escape = 'n'; break;
        case 11: escape = 'v'; break;
        case 12: escape = 'f'; break;
        case 13: escape = 'r'; break;
        case 27: escape = 'e'; break;
        case '"': escape = '"'; break;
        case '\\': escape = '\\'; break;
        default: break;
    }
    if (escape) {
        VLTextPut(text, '\\');
        VLTextPut(text, escape);
    } else if (byte < 32 || byte > 126) {
        static const char lowerDigits[] = "0123456789abcdef";
        VLTextPut(text, '\\');
        VLTextPut(text, 'x');
        VLTextPut(text, lowerDigits[byte >> 4]);
        VLTextPut(text, lowerDigits[byte & 15]);
    } else {
        VLTextPut(text, char(byte));
    }
}

// Contract: a double quote, the bytes in file order with escapes, and a closing
// quote only when everything before it took fewer than 128 characters; a
// longer text is cut after 128 characters.
uint32_t VLFormatString(const VLMemberBytes* bytes, char* buffer) {
    VLText text = {buffer, 0, VLValueTextLimit};
    VLTextPut(&text, '"');
    for (uint64_t i = 0; i < bytes->size && !VLTextFull(&text); ++i)
        VLPutEscaped(&text, VLMemberByte(bytes, i));
    VLTextPut(&text, '"');  // dropped when the text already has 128 characters
    return text.length;
}

// A single-precision value in millionths, rounded the way a six-decimal text
// rounds: to nearest, ties to even, on the exact binary value.
struct VLMillionths {
    bool exact;      // false: infinity, NaN or too large for 64-bit arithmetic
    bool negative;
    uint64_t value;
};

// Contract: for finite singles below 2^40, the exact rounded value * 10^6. The
// mantissa is below 2^24 and 10^6 below 2^20, so every product fits in 64 bits.
static inline VLMillionths VLSingleMillionths(uint32_t bits) {
    VLMillionths result = {false, (bits >> 31) != 0, 0};
    uint32_t exponent = (bits >> 23) & 0xFF;
    uint64_t mantissa = bits & 0x7FFFFF;
    int shift = -149;  // value = mantissa * 2^shift
    if (exponent != 0) {
        mantissa |= 0x800000;
        shift = int(exponent) - 150;
    }
    if (exponent == 0xFF || shift > 16) return result;
    uint64_t scaled = mantissa * 1000000u;
    result.exact = true;
    if (shift >= 0) {
        result.value = scaled << shift;
    } else if (shift > -64) {
        uint32_t drop = uint32_t(-shift);
        uint64_t rest = scaled & ((uint64_t(1) << drop) - 1);
        uint64_t half = uint64_t(1) << (drop - 1);
        result.value = scaled >> drop;
        if (rest > half || (rest == half && (result.value & 1))) result.value++;
    }  // else below a millionth of a millionth: 0
    return result;
}

static uint32_t VLFormatMillionths(VLMillionths number, char* buffer) {
    char* cursor = buffer;
    if (number.negative) *cursor++ = '-';
    cursor += VLFormatUnsigned(number.value / 1000000, cursor);
    *cursor++ = '.';
    uint32_t fraction = uint32_t(number.value % 1000000);
    for (int i = 5; i >= 0; --i) {
        cursor[i] = char('0' + fraction % 10);
        fraction /= 10;
    }
    return uint32_t(cursor + 6 - buffer);
}

// Six decimals through the library, falling back to exponent form for values
// whose fixed form would not fit in the float text.
static uint32_t VLFormatDouble(double value, char* buffer) {
    char text[400];  // the longest fixed form of a double is 318 characters
    std::to_chars_result result =
        std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, 6);
    if (result.ec != std::errc() || result.ptr - text > ptrdiff_t(VLFloatTextLimit))
        result = std::to_chars(text, text + sizeof text, value, std::chars_format::scientific, 6);
    uint32_t length = result.ec == std::errc() ? uint32_t(result.ptr - text) : 0;
    memcpy(buffer, text, length);
    return length;
}

// Contract: a 4- or 8-byte float in the declared byte order (0 when not wholly
// in the data), shown with six decimals. A value whose fixed form would not
// fit in the float text is shown in exponent form instead.
uint32_t VLFormatFloat(const VLMemberBytes* bytes, uint32_t flags, char* buffer) {
    uint64_t bits = VLValueOfBytes(bytes, (flags & VLMemberFlag_BigEndian) != 0);
    if (bytes->size != 4) return VLFormatDouble(std::bit_cast<double>(bits), buffer);
    VLMillionths number = VLSingleMillionths(uint32_t(bits));
    if (number.exact) return VLFormatMillionths(number, buffer);
    return VLFormatDouble(double(std::bit_cast<float>(uint32_t(bits))), buffer);
}

static inline uint32_t VLFloatWidth(const VLMemberBytes* bytes, uint32_t flags) {
    if (bytes->size == 4) {
        uint64_t bits = VLValueOfBytes(bytes, (flags & VLMemberFlag_BigEndian) != 0);
        VLMillionths number = VLSingleMillionths(uint32_t(bits));
        if (number.exact) return (number.negative ? 1 : 0) + VLDecimalDigits(number.value / 1000000) + 7;
    }
    char scratch[VLValueTextLimit];
    return VLFormatFloat(bytes, flags, scratch);
}

// Contract: the name of the first entry equal to the value; otherwise "0" for
// 0, else the names of the entries whose bits are all set, joined by "|",
// with any remaining bits as hexadecimal digits and "h". At most 128 characters.
const VLEnumValue* VLEnumerationEntry(const VLEnum* enumeration, const VLMemberBytes* bytes, uint32_t flags) {
    if (bytes->size > 8) return nullptr;
    uint64_t value = VLValueOfBytes(bytes, (flags & VLMemberFlag_BigEndian) != 0);
    for (const VLEnumValue* entry = enumeration->values; entry; entry = entry->next) {
        if (uint64_t(entry->value) == value) return entry;
    }
    return nullptr;
}

const VLEnumValue* VLNextEnumerationFlag(const VLEnumValue* from, uint64_t* rest) {
    for (const VLEnumValue* entry = from; entry && *rest; entry = entry->next) {
        uint64_t mask = uint64_t(entry->value);
        if (mask == 0 || (*rest & mask) != mask) continue;
        *rest &= ~mask;
        return entry;
    }
    return nullptr;
}

uint32_t VLFormatEnumeration(const VLEnum* enumeration, const VLMemberBytes* bytes, uint32_t flags,
                             char* buffer) {
    VLText text = {buffer, 0, VLValueTextLimit};
    if (const VLEnumValue* entry = VLEnumerationEntry(enumeration, bytes, flags)) {
        VLTextPutChars(&text, entry->name.chars, entry->name.length);
        return text.length;
    }
    uint64_t value = VLValueOfBytes(bytes, (flags & VLMemberFlag_BigEndian) != 0);
    if (value == 0) return VLCopyText("0", buffer);
    for (const VLEnumValue* entry = VLNextEnumerationFlag(enumeration->values, &value); entry;
         entry = VLNextEnumerationFlag(entry->next, &value)) {
        VLTextPutChars(&text, entry->name.chars, entry->name.length);
        if (value) VLTextPut(&text, '|');
    }
    if (value) {
        for (int shift = (int(std::bit_width(value)) - 1) / 4 * 4; shift >= 0; shift -= 4)
            VLTextPut(&text, VLHexDigits[(value >> shift) & 15]);
        VLTextPut(&text, 'h');
    }
    return text.length;
}

static const char* VLFixedValueText(int32_t type, uint32_t flags, uint64_t size) {
    uint32_t display = VLDisplayTypeOf(flags);
    if (type == VLInstructionType_ScalarMemberF) {
        if (size != 4 && size != 8) return "TODO Only single (4) and double (8) precision floats supported.";
        if (display == VLDisplayType_Binary) return "TODO Add base 2 float support.";
        if (display == VLDisplayType_Octal) return "TODO Add base 8 float support?";
        if (display == VLDisplayType_Hex) return "TODO Add base 16 float support.";
        return nullptr;
    }
    if (display == VLDisplayType_Octal) return "TODO Add octal display support.";
    return nullptr;
}

uint32_t VLFormatValue(int32_t type, uint32_t flags, const VLEnum* enumeration,
                       const VLMemberBytes* bytes, char* buffer) {
    if (enumeration) return VLFormatEnumeration(enumeration, bytes, flags, buffer);
    if (const char* fixed = VLFixedValueText(type, flags, bytes->size)) return VLCopyText(fixed, buffer);
    if (type == VLInstructionType_ScalarMemberF) return VLFormatFloat(bytes, flags, buffer);
    switch (VLDisplayTypeOf(flags)) {
        case VLDisplayType_Hex: return VLFormatHex(bytes, flags, buffer, VLValueTextLimit);
        case VLDisplayType_Binary: return VLFormatBinary(bytes, flags, buffer);
        case VLDisplayType_String: return VLFormatString(bytes, buffer);
        default:
            return VLFormatDecimal(bytes, flags, type == VLInstructionType_ScalarMemberS, buffer);
    }
}

VLDecodedValue VLDecodeValue(int32_t type, uint32_t flags, const VLEnum* enumeration,
                             const VLMemberBytes* bytes) {
    uint64_t size = bytes->size;
    if (VLDisplayTypeOf(flags) == VLDisplayType_String) return {VLValueKind_String, 0};
    if (size == 0 || size > 8 || ((flags & VLMemberFlag_Raw) && !enumeration)) return {VLValueKind_Bytes, 0};
    uint64_t value = VLValueOfBytes(bytes, (flags & VLMemberFlag_BigEndian) != 0);
    if (enumeration) return {VLValueKind_Enumeration, value};
    if (type == VLInstructionType_ScalarMemberF)
        return size == 4 || size == 8 ? VLDecodedValue{VLValueKind_Float, value} : VLDecodedValue{VLValueKind_Bytes, 0};
    if (type == VLInstructionType_ScalarMemberS) {
        uint32_t topBit = uint32_t(8 * size - 1);
        if (size < 8 && ((value >> topBit) & 1)) value |= ~uint64_t(0) << (topBit + 1);
        return {VLValueKind_Signed, value};
    }
    return {VLValueKind_Unsigned, value};
}

const char* VLMemberTypeName(int32_t type, uint32_t flags, const VLEnum* enumeration) {
    switch (type) {
        case VLInstructionType_ZStringMember: return "zstring";
        case VLInstructionType_ULebMember: return "uleb";
        case VLInstructionType_SLebMember: return "sleb";
        case VLInstructionType_VlqMember: return "vlq";
        case VLInstructionType_ShowMember: return "s";
        default: break;
    }
    if (VLDisplayTypeOf(flags) == VLDisplayType_String) return "string";
    if ((flags & VLMemberFlag_Raw) && !enumeration) return "raw";
    if (type == VLInstructionType_ScalarMemberS) return "s";
    if (type == VLInstructionType_ScalarMemberF) return "f";
    return "u";
}

const char* VLMemberDisplayName(uint32_t flags, const VLEnum* enumeration) {
    if (enumeration) return nullptr;
    uint32_t display = VLDisplayTypeOf(flags);
    uint32_t usual = (flags & VLMemberFlag_Raw) ? VLDisplayType_Hex : VLDisplayType_Decimal;
    if (display == usual || display == VLDisplayType_String) return nullptr;
    switch (display) {
        case VLDisplayType_Binary: return "binary";
        case VLDisplayType_Octal: return "octal";
        case VLDisplayType_Hex: return "hex";
        default: return "decimal";
    }
}

uint32_t VLValueWidth(int32_t type, uint32_t flags, const VLEnum* enumeration,
                      const VLMemberBytes* bytes) {
    if (!enumeration && type == VLInstructionType_ScalarMemberF &&
        !VLFixedValueText(type, flags, bytes->size))
        return VLFloatWidth(bytes, flags);
    if (!enumeration && type != VLInstructionType_ScalarMemberF) {
        switch (VLDisplayTypeOf(flags)) {
            case VLDisplayType_Decimal:
                return VLDecimalWidth(bytes, flags, type == VLInstructionType_ScalarMemberS);
            case VLDisplayType_Hex: return VLHexWidth(bytes, flags);
            case VLDisplayType_Binary: return VLBinaryWidth(bytes, flags);
            default: break;
        }
    }
    char scratch[VLValueTextLimit];
    return VLFormatValue(type, flags, enumeration, bytes, scratch);
}

// The widest decimal text an integer of `size` bytes (1 to 8) can have:
// [size][0] unsigned, [size][1] signed (the most negative value).
struct VLWidestDecimals {
    uint32_t widths[9][2];
};
static constexpr uint32_t VLGroupedLength(uint64_t magnitude, bool negative) {
    uint32_t digits = 1;
    for (; magnitude >= 10; magnitude /= 10) ++digits;
    return digits + (digits - 1) / 3 + (negative ? 1 : 0);
}
static constexpr VLWidestDecimals VLMakeWidestDecimals() {
    VLWidestDecimals table{};
    for (uint32_t size = 1; size <= 8; ++size) {
        uint64_t top = uint64_t(1) << (8 * size - 1);  // the sign bit
        table.widths[size][0] = VLGroupedLength(top - 1 + top, false);
        table.widths[size][1] = VLGroupedLength(top, true);
    }
    return table;
}
static constexpr VLWidestDecimals VLWidestDecimalTable = VLMakeWidestDecimals();

// True when no value of the member can widen a value column of `width`:
// an integer in decimal whose widest possible text fits already (measuring
// it could not change the column, so its bytes need not be read).
static inline bool VLValueFits(int32_t type, uint32_t flags, const VLEnum* enumeration, uint64_t size,
                               uint32_t width) {
    if (enumeration || type == VLInstructionType_ScalarMemberF || VLDisplayTypeOf(flags) != VLDisplayType_Decimal ||
        size == 0 || size > 8)
        return false;
    return VLWidestDecimalTable.widths[size][type == VLInstructionType_ScalarMemberS] <= width;
}

// VLValueWidth, with its common forms (integers of up to 8 bytes in decimal,
// single floats) worked out in place.
static inline uint32_t VLMeasureValue(int32_t type, uint32_t flags, const VLEnum* enumeration,
                                      const VLMemberBytes* bytes) {
    if (!enumeration && VLDisplayTypeOf(flags) == VLDisplayType_Decimal && bytes->size <= 8) {
        if (type != VLInstructionType_ScalarMemberF)
            return VLDecimalWidth(bytes, flags, type == VLInstructionType_ScalarMemberS);
        if (bytes->size == 4) return VLFloatWidth(bytes, flags);
    }
    return VLValueWidth(type, flags, enumeration, bytes);
}

// ---------------------------------------------------------------------------
// Names and header lines
// ---------------------------------------------------------------------------

// Digits the bracketed index takes: the stored width, or more when the index is wider.
static uint32_t VLIndexField(uint64_t indexWidth, uint32_t index) {
    uint32_t digits = VLDecimalDigits(index);
    return indexWidth > digits ? uint32_t(indexWidth) : digits;
}

static uint32_t VLNameKeep(VLString name, bool isArray, uint32_t field) {
    uint32_t room = VLNameTextLimit - (isArray ? field + 2 : 0);
    return name.length < room ? name.length : room;
}

uint32_t VLFormatMemberName(VLString name, bool isArray, uint64_t indexWidth, uint32_t index,
                            char* buffer) {
    uint32_t field = isArray ? VLIndexField(indexWidth, index) : 0;
    VL_ASSERT(field <= 20);  // widths are digit counts of 32-bit indices
    uint32_t keep = VLNameKeep(name, isArray, field);
    memcpy(buffer, name.chars, keep);
    if (!isArray) return keep;
    char* cursor = buffer + keep;
    *cursor++ = '[';
    uint32_t digits = VLDecimalDigits(index);
    memset(cursor, ' ', field - digits);
    cursor += field - digits;
    cursor += VLFormatUnsigned(index, cursor);
    *cursor++ = ']';
    return uint32_t(cursor - buffer);
}

uint32_t VLMemberNameWidth(VLString name, bool isArray, uint64_t indexWidth, uint32_t index) {
    uint32_t field = isArray ? VLIndexField(indexWidth, index) : 0;
    return VLNameKeep(name, isArray, field) + (isArray ? field + 2 : 0);
}

// Shares `room` characters between two names: each keeps at least half of it
// when both are too long, and a short one leaves the rest to the other.
static void VLShareRoom(uint32_t room, uint32_t* first, uint32_t* second) {
    if (*first + *second <= room) return;
    uint32_t half = room / 2;
    if (*first <= half) {
        *second = room - *first;
    } else if (*second <= room - half) {
        *first = room - *second;
    } else {
        *first = half;
        *second = room - half;
    }
}

uint32_t VLFormatStructHeader(VLString typeName, VLString memberName, bool isArray, uint64_t index,
                              char* buffer) {
    uint32_t typeKeep = typeName.length;
    if (memberName.length == 0) {
        typeKeep = typeKeep < VLNameTextLimit ? typeKeep : VLNameTextLimit;
        memcpy(buffer, typeName.chars, typeKeep);
        return typeKeep;
    }
    char indexText[24];
    uint32_t indexLength = isArray ? VLFormatUnsigned(index, indexText) : 0;
    uint32_t decoration = 4 + (isArray ? indexLength + 2 : 0);  // " (." and ")", "[" and "]"
    uint32_t memberKeep = memberName.length;
    VLShareRoom(VLNameTextLimit - decoration, &typeKeep, &memberKeep);
    char* cursor = buffer;
    memcpy(cursor, typeName.chars, typeKeep);
    cursor += typeKeep;
    memcpy(cursor, " (.", 3);
    cursor += 3;
    memcpy(cursor, memberName.chars, memberKeep);
    cursor += memberKeep;
    if (isArray) {
        *cursor++ = '[';
        memcpy(cursor, indexText, indexLength);
        cursor += indexLength;
        *cursor++ = ']';
    }
    *cursor++ = ')';
    return uint32_t(cursor - buffer);
}

// ---------------------------------------------------------------------------
// Columns and lines
// ---------------------------------------------------------------------------

// Records a text of `length` in the current column and moves to the next one;
// returns the padding the text needs in the printing pass.
static uint32_t VLFitColumn(VLColumns* columns, uint32_t length) {
    VL_ASSERT(columns->current < 64);
    uint32_t* width = &columns->widths[columns->current];
    if (length > *width) *width = length;
    uint32_t padding = *width - length;
    if (columns->current < 63) columns->current++;
    return padding;
}

void VLPrintColumn(VLColumns* columns, VLWriter* out, const char* text, uint32_t length) {
    if (length == 0) return;  // an empty text adds no column
    uint32_t padding = VLFitColumn(columns, length);
    if (!out) return;
    VLWriteRepeat(out, ' ', padding);
    VLWrite(out, text, length);
    VLWriteChar(out, ' ');
}

enum : uint32_t { VLShortText = 32 };  // texts and paddings up to this length are moved in one fixed-size copy

// Spaces before a right-aligned text; up to VLShortText in one fixed-size
// store (the room after them is written over by the text).
static inline void VLPad(char* cursor, uint32_t padding) {
    if (padding <= VLShortText) memset(cursor, ' ', VLShortText);
    else memset(cursor, ' ', padding);
}


// A value text of a member line and the room it is built in. The common
// forms (decimal integers, single floats) are written backwards so that they
// end at `chars` + VLValueTextLimit; the rest start at `chars`. VLShortText
// bytes after any text stay readable for the fixed-size copy.
struct VLValueCell {
    char chars[uint32_t(VLValueTextLimit) + VLShortText];
    const char* text;
    uint32_t length;
};

// Grouped decimal digits written backwards, ending at `end`; returns the start.
static char* VLPutGroupedBackwards(char* end, uint64_t magnitude, bool negative) {
    while (magnitude >= 1000) {
        end -= 3;
        memcpy(end, VLDigitGroupTable.chars + 3 * (magnitude % 1000), 3);
        *--end = ' ';
        magnitude /= 1000;
    }
    do {
        *--end = char('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude);
    if (negative) *--end = '-';
    return end;
}

// A millionths value with six decimals written backwards, ending at `end`.
static char* VLPutMillionthsBackwards(char* end, VLMillionths number) {
    uint32_t fraction = uint32_t(number.value % 1000000);
    end -= 3;
    memcpy(end, VLDigitGroupTable.chars + 3 * (fraction % 1000), 3);
    end -= 3;
    memcpy(end, VLDigitGroupTable.chars + 3 * (fraction / 1000), 3);
    *--end = '.';
    uint64_t whole = number.value / 1000000;
    do {
        *--end = char('0' + whole % 10);
        whole /= 10;
    } while (whole);
    if (number.negative) *--end = '-';
    return end;
}

// The value column's text, exactly as VLFormatValue builds it.
static inline __attribute__((always_inline)) void VLBuildValueText(int32_t type, uint32_t flags, const VLEnum* enumeration,
                             const VLMemberBytes* bytes, VLValueCell* cell) {
    char* end = cell->chars + VLValueTextLimit;
    if (!enumeration && VLDisplayTypeOf(flags) == VLDisplayType_Decimal && bytes->size <= 8) {
        if (type != VLInstructionType_ScalarMemberF) {
            VLDecimalValue value = VLDecimalValueOf(bytes, flags, type == VLInstructionType_ScalarMemberS);
            cell->text = VLPutGroupedBackwards(end, value.magnitude, value.negative);
            cell->length = uint32_t(end - cell->text);
            return;
        }
        if (bytes->size == 4) {
            uint64_t bits = VLValueOfBytes(bytes, (flags & VLMemberFlag_BigEndian) != 0);
            VLMillionths number = VLSingleMillionths(uint32_t(bits));
            if (number.exact) {
                cell->text = VLPutMillionthsBackwards(end, number);
                cell->length = uint32_t(end - cell->text);
                return;
            }
        }
    }
    cell->text = cell->chars;
    cell->length = VLFormatValue(type, flags, enumeration, bytes, cell->chars);
}

void VLPrintStructEnd(VLColumns* columns, VLWriter* out) {
    columns->current = 0;
    if (out) VLWriteChar(out, '\n');
}


// Reads typeIndex as it stood before the push added a frame.
const VLTypeDefinition* VLPushedType(const VLInstruction* pushFrame, VLRuntime* runtime) {
    VLLocation location = pushFrame->pushFrame.typeIndex;
    if (location.kind == VLLocationKind_None || !runtime->types) return nullptr;
    int64_t index;
    if (location.kind == VLLocationKind_Local && location.depth == 0 && location.index < VLFrameSlotCount &&
        runtime->frames && runtime->frames->parent) {
        index = runtime->frames->parent->slots[location.index];  // the common case, read directly
    } else {
        if (location.kind == VLLocationKind_Local) location.depth += 1;
        index = *VLResolveLocation(runtime, location);
    }
    if (index < 0 || index > int64_t(UINT32_MAX)) return nullptr;
    return VLTypeAt(runtime->types, uint32_t(index));
}

// Plain decimal digits written backwards, ending at `end`; returns the start.
static char* VLPutDigitsBackwards(char* end, uint64_t value) {
    do {
        *--end = char('0' + value % 10);
        value /= 10;
    } while (value);
    return end;
}

// Contract: the header line of a struct member just pushed, in the printing
// pass only; nothing for a type without a name. A header short enough to need
// no shortening (nearly all) is written straight into the output.
void VLPrintStructHeader(const VLInstruction* pushFrame, VLRuntime* runtime, VLWriter* out) {
    VL_ASSERT(pushFrame->type == VLInstructionType_PushFrame);
    if (!out) return;
    const VLTypeDefinition* type = VLPushedType(pushFrame, runtime);
    bool isArray = pushFrame->pushFrame.arrayCount.kind != VLLocationKind_None;
    uint32_t index = isArray ? VLElementIndex(runtime, 3) : 0;
    VLPrintStructHeaderLine(type, pushFrame->pushFrame.name, isArray, index, out);
}

void VLPrintStructHeaderLine(const VLTypeDefinition* type, VLString member, bool isArray, uint32_t index,
                             VLWriter* out) {
    if (!out || !type || type->name.length == 0) return;
    uint32_t digits = isArray ? VLDecimalDigits(index) : 0;
    uint32_t decoration = member.length ? 4 + (isArray ? digits + 2 : 0) : 0;  // " (." ")" "[" "]"
    uint64_t length = uint64_t(type->name.length) + member.length + decoration;
    if (length > VLNameTextLimit) {
        char line[VLNameTextLimit + 1];
        uint32_t cut = VLFormatStructHeader(type->name, member, isArray, index, line);
        line[cut] = '\n';
        VLWrite(out, line, cut + 1);
        return;
    }
    char* start = VLWriterReserve(out, length + 1);
    char* cursor = start;
    VLPutText(cursor, type->name.chars, type->name.length);
    cursor += type->name.length;
    if (member.length) {
        memcpy(cursor, " (.", 3);
        cursor += 3;
        VLPutText(cursor, member.chars, member.length);
        cursor += member.length;
        if (isArray) {
            *cursor++ = '[';
            cursor += digits;
            VLPutDigitsBackwards(cursor, index);
            *cursor++ = ']';
        }
        *cursor++ = ')';
    }
    *cursor++ = '\n';
    out->used += size_t(cursor - start);
}



void VLAdjustValueSource(const VLInstruction* member, VLRuntime* runtime, VLValueSource* source) {
    source->flags = VLMemberFlagsNow(runtime, member);
    source->own = *source->bytes;
    source->bytes = &source->own;
    VLMemberBytes* bytes = &source->own;
    uint64_t value = 0;
    switch (member->type) {
    case VLInstructionType_ZStringMember:  // the text without its NUL
        if (bytes->size > 0 && VLMemberByte(bytes, bytes->size - 1) == 0) bytes->size -= 1;
        source->type = VLInstructionType_ScalarMemberU;
        return;
    case VLInstructionType_ULebMember:
    case VLInstructionType_SLebMember:
    case VLInstructionType_VlqMember:
        value = VLDecodeVarint(member->type, bytes->data + bytes->address, bytes->size).value;
        break;
    case VLInstructionType_ShowMember:
        value = uint64_t(VLSlotValue(runtime, member->scalarExport.value));
        break;
    default:  // a size of 0 that the zero-counts default allows: ""
        if (bytes->size == 0) source->flags = VLDisplayType_String;
        return;
    }
    bool negative = member->type != VLInstructionType_ULebMember && member->type != VLInstructionType_VlqMember &&
                    int64_t(value) < 0;
    source->type = negative ? VLInstructionType_ScalarMemberS : VLInstructionType_ScalarMemberU;
    for (uint32_t i = 0; i < 8; ++i) source->scratch[i] = uint8_t(value >> (8 * i));
    uint32_t display = VLDisplayTypeOf(source->flags);
    uint64_t size = 8;
    if (display == VLDisplayType_Hex || display == VLDisplayType_Binary)
        size = value ? (uint64_t(std::bit_width(value)) + 7) / 8 : 1;
    source->flags &= ~uint32_t(VLMemberFlag_BigEndian);
    *bytes = VLMemberBytes{source->scratch, 8, 0, size};
}

// A member line when the column position is not at the start (only when
// columns were printed before it by hand): column by column.
static void VLPrintMemberColumns(VLColumns* columns, VLWriter* out, uint64_t address, VLString name,
                                 bool isArray, uint64_t indexWidth, uint32_t index, const VLValueCell* value) {
    char text[VLNameTextLimit + 1];
    VLPrintColumn(columns, out, text, VLFormatAddress(address, text));
    VLPrintColumn(columns, out, text, VLFormatMemberName(name, isArray, indexWidth, index, text));
    VLPrintColumn(columns, out, value->text, value->length);
    columns->current = 0;
    if (out) VLWriteChar(out, '\n');
}

// Widens a column for a text of `length` (an empty text adds no column) and
// returns the padding the text gets.
static inline uint32_t VLWiden(uint32_t* width, uint32_t length) {
    if (length > *width) *width = length;
    return *width - length;
}

// Contract: one member line: address, name and value columns, then the column
// position returns to the first column. Without `out` only the widths (and the
// member's index width) are recorded, computed without building the texts.
// The printing pass writes the line straight into the output buffer: its
// length is known from the widths before a character is written.
static inline __attribute__((always_inline)) void VLMemberLine(VLInstruction* member, uint64_t address,
                                                               const VLValueSource* source, bool isArray,
                                                               uint32_t index, VLColumns* columns, VLWriter* out);

void VLPrintMember(VLInstruction* member, VLRuntime* runtime, VLColumns* columns, VLWriter* out) {
    VL_ASSERT(VLIsMemberKind(member->type));
    VLMemberBytes bytes = VLBytesOfMember(member, runtime);
    VLValueSource value;
    VLValueSourceOf(member, runtime, &bytes, &value);
    bool isArray = member->scalarExport.arrayCount.kind != VLLocationKind_None;
    uint32_t index = isArray ? VLElementIndex(runtime, 2) : 0;
    VLPrintMemberLine(member, &bytes, &value, isArray, index, columns, out);
}

void VLPrintMemberLine(VLInstruction* member, const VLMemberBytes* memberBytes, const VLValueSource* source,
                       bool isArray, uint32_t index, VLColumns* columns, VLWriter* out) {
    VLMemberLine(member, memberBytes->address, source, isArray, index, columns, out);
}

// The text sink's member event (TextSink.cpp): the line built here, where
// the formatters can be inlined into it.
void VLPrintTextMember(void* context, const VLMemberEvent* event) {
    VLTextSink* sink = static_cast<VLTextSink*>(context);
    VLMemberLine(event->instruction, event->bytes.address, &event->value, event->isArray, event->index,
                 &sink->columns, sink->printing ? sink->out : nullptr);
}

static inline __attribute__((always_inline)) void VLMemberLine(VLInstruction* member, uint64_t address,
                                                               const VLValueSource* source, bool isArray,
                                                               uint32_t index, VLColumns* columns, VLWriter* out) {
    const auto& scalar = member->scalarExport;
    int32_t type = source->type;
    uint32_t flags = source->flags;
    const VLMemberBytes& bytes = *source->bytes;
    uint64_t indexWidth = member->indexWidth;
    if (isArray && VLDecimalDigits(index) > member->indexWidth) member->indexWidth = VLDecimalDigits(index);
    uint32_t addressLength = VLAddressWidth(address);
    uint32_t nameLength = VLMemberNameWidth(scalar.name, isArray, indexWidth, index);
    if (!out && columns->current == 0) {
        // Address and name texts are never empty.
        VLWiden(&columns->widths[0], addressLength);
        VLWiden(&columns->widths[1], nameLength);
        if (VLValueFits(type, flags, scalar.enumeration, bytes.size, columns->widths[2])) return;
        uint32_t valueLength = VLMeasureValue(type, flags, scalar.enumeration, &bytes);
        if (valueLength) VLWiden(&columns->widths[2], valueLength);
        return;
    }
    VLValueCell value;
    if (out) {
        VLBuildValueText(type, flags, scalar.enumeration, &bytes, &value);
    } else {
        value.text = value.chars;
        value.length = VLFormatValue(type, flags, scalar.enumeration, &bytes, value.chars);
    }
    if (columns->current != 0) {
        VLPrintMemberColumns(columns, out, address, scalar.name, isArray, indexWidth, index, &value);
        return;
    }
    uint32_t addressPadding = VLWiden(&columns->widths[0], addressLength);
    uint32_t namePadding = VLWiden(&columns->widths[1], nameLength);
    uint32_t valuePadding = value.length ? VLWiden(&columns->widths[2], value.length) : 0;
    uint64_t room = uint64_t(columns->widths[0]) + columns->widths[1] + columns->widths[2] + 4 + 2 * VLShortText;
    char* start = VLWriterReserve(out, size_t(room));
    char* cursor = start;
    VLPad(cursor, addressPadding);
    cursor += addressPadding;
    VLFormatAddress(address, cursor);
    cursor += addressLength;
    *cursor++ = ' ';
    VLPad(cursor, namePadding);
    cursor += namePadding;
    if (isArray) {
        VLFormatMemberName(scalar.name, isArray, indexWidth, index, cursor);
    } else {
        VLPutText(cursor, scalar.name.chars, nameLength);
    }
    cursor += nameLength;
    *cursor++ = ' ';
    if (value.length) {
        VLPad(cursor, valuePadding);
        cursor += valuePadding;
        if (value.length <= VLShortText) memcpy(cursor, value.text, VLShortText);
        else memcpy(cursor, value.text, value.length);
        cursor += value.length;
        *cursor++ = ' ';
    }
    *cursor++ = '\n';
    out->used += size_t(cursor - start);
}
