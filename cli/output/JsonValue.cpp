// JsonValue.cpp - the JSON texts both JSON outputs share: strings of any
// bytes, and the fields of a member and of a report.
//
// A member's value comes from the same decoding as the text column
// (VLDecodeValue in Display.cpp) and its "text" field is the text column's
// own formatter output; this file only writes them as JSON. Each kind of
// value has one case in VLWriteJsonValue, so a new kind of member adds a case
// there.
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>

#include "Events.h"

static constexpr char VLLowerHex[] = "0123456789abcdef";

// ---------------------------------------------------------------------------
// Strings
// ---------------------------------------------------------------------------

// Length of the valid UTF-8 sequence that starts at `bytes` (1 to 4), or 0
// when the bytes there are no valid sequence (overlong forms, surrogates and
// values above U+10FFFF are invalid). `available` bytes can be read.
static uint32_t VLUtf8SequenceLength(const uint8_t* bytes, uint64_t available) {
    uint8_t first = bytes[0];
    uint32_t length;
    uint8_t low = 0x80, high = 0xBF;  // range of the second byte
    if (first >= 0xC2 && first <= 0xDF) {
        length = 2;
    } else if (first >= 0xE0 && first <= 0xEF) {
        length = 3;
        if (first == 0xE0) low = 0xA0;
        if (first == 0xED) high = 0x9F;
    } else if (first >= 0xF0 && first <= 0xF4) {
        length = 4;
        if (first == 0xF0) low = 0x90;
        if (first == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (available < length) return 0;
    if (bytes[1] < low || bytes[1] > high) return 0;
    for (uint32_t i = 2; i < length; ++i)
        if ((bytes[i] & 0xC0) != 0x80) return 0;
    return length;
}

// Writes the escaped form of bytes[0, count) at `to`: at most 6 bytes per
// input byte. Returns the end.
static char* VLPutJsonChars(char* to, const uint8_t* bytes, uint64_t count) {
    for (uint64_t i = 0; i < count;) {
        uint8_t byte = bytes[i];
        if (byte >= 0x20 && byte < 0x80) {
            if (byte == '"' || byte == '\\') *to++ = '\\';
            *to++ = char(byte);
            ++i;
            continue;
        }
        if (byte < 0x20) {
            *to++ = '\\';
            switch (byte) {
                case '\n': *to++ = 'n'; break;
                case '\r': *to++ = 'r'; break;
                case '\t': *to++ = 't'; break;
                case '\b': *to++ = 'b'; break;
                case '\f': *to++ = 'f'; break;
                default:
                    memcpy(to, "u00", 3);
                    to[3] = VLLowerHex[byte >> 4];
                    to[4] = VLLowerHex[byte & 15];
                    to += 5;
                    break;
            }
            ++i;
            continue;
        }
        uint32_t length = VLUtf8SequenceLength(bytes + i, count - i);
        if (length) {
            memcpy(to, bytes + i, length);
            to += length;
            i += length;
        } else {  // not UTF-8: the byte as a lone low surrogate U+DC80..U+DCFF
            memcpy(to, "\\udc", 4);
            to[4] = VLLowerHex[byte >> 4];
            to[5] = VLLowerHex[byte & 15];
            to += 6;
            ++i;
        }
    }
    return to;
}

enum : uint64_t { VLJsonChunk = 4096 };

void VLWriteJsonString(VLWriter* out, const char* chars, uint64_t length) {
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(chars);
    VLWriteChar(out, '"');
    // In pieces, so that a long string needs no buffer of its escaped size; a
    // piece ends before a byte that could continue a sequence across it.
    uint64_t done = 0;
    while (done < length) {
        uint64_t count = length - done < VLJsonChunk ? length - done : VLJsonChunk;
        if (done + count < length)
            while (count > VLJsonChunk - 4 && (bytes[done + count] & 0xC0) == 0x80) --count;
        char* start = VLWriterReserve(out, 6 * count);
        out->used += size_t(VLPutJsonChars(start, bytes + done, count) - start);
        done += count;
    }
    VLWriteChar(out, '"');
}

// ---------------------------------------------------------------------------
// Member fields
// ---------------------------------------------------------------------------


static void VLWriteUnsigned(VLWriter* out, uint64_t value) {
    char* start = VLWriterReserve(out, 24);
    out->used += size_t(std::to_chars(start, start + 24, value).ptr - start);
}

static void VLWriteSigned(VLWriter* out, int64_t value) {
    char* start = VLWriterReserve(out, 24);
    out->used += size_t(std::to_chars(start, start + 24, value).ptr - start);
}

// Every byte of the member in file order as two lowercase hexadecimal digits.
static void VLWriteJsonHex(VLWriter* out, const VLMemberBytes* bytes) {
    VLWriteChar(out, '"');
    for (uint64_t done = 0; done < bytes->size;) {
        uint64_t count = bytes->size - done < VLJsonChunk ? bytes->size - done : VLJsonChunk;
        char* cursor = VLWriterReserve(out, 2 * count);
        for (uint64_t i = 0; i < count; ++i) {
            uint8_t byte = VLMemberByte(bytes, done + i);
            cursor[2 * i] = VLLowerHex[byte >> 4];
            cursor[2 * i + 1] = VLLowerHex[byte & 15];
        }
        out->used += size_t(2 * count);
        done += count;
    }
    VLWriteChar(out, '"');
}

// The bytes of a member wholly in the data, or (never for a member the run
// showed) the part that is.
static void VLWriteJsonBytesAsString(VLWriter* out, const VLMemberBytes* bytes) {
    uint64_t available = bytes->address < bytes->dataSize ? bytes->dataSize - bytes->address : 0;
    if (available > bytes->size) available = bytes->size;
    VLWriteJsonString(out, reinterpret_cast<const char*>(bytes->data + bytes->address), available);
}

// `,"names":[...]`: the entry the text column shows the value by, or the
// flags it is made of.
static void VLWriteJsonNames(VLWriter* out, const VLEnum* enumeration, const VLMemberEvent* event,
                             uint64_t value) {
    VLWriteText(out, ",\"names\":[");
    uint32_t flags = event->value.flags;
    if (const VLEnumValue* entry = VLEnumerationEntry(enumeration, event->value.bytes, flags)) {
        VLWriteJsonString(out, entry->name.chars, entry->name.length);
    } else {
        bool first = true;
        for (const VLEnumValue* entry = VLNextEnumerationFlag(enumeration->values, &value); entry;
             entry = VLNextEnumerationFlag(entry->next, &value)) {
            if (!first) VLWriteChar(out, ',');
            VLWriteJsonString(out, entry->name.chars, entry->name.length);
            first = false;
        }
    }
    VLWriteChar(out, ']');
}

// A literal copied to `to`; returns the end.
template <size_t N> static inline char* VLPut(char* to, const char (&text)[N]) {
    memcpy(to, text, N - 1);
    return to + N - 1;
}

static inline char* VLPutChars(char* to, const char* chars, size_t length) {
    VLPutText(to, chars, uint32_t(length));
    return to + length;
}

// A text of printable ASCII but for `"` and `\` (the text column's, nearly
// always) copied at once; anything else through the escapes.
static inline char* VLPutJsonText(char* to, const char* text, uint32_t length) {
    bool plain = true;
    for (uint32_t i = 0; i < length; ++i) {
        uint8_t c = uint8_t(text[i]);
        plain &= c >= 0x20 && c < 0x80 && c != '"' && c != '\\';
    }
    if (plain) return VLPutChars(to, text, length);
    return VLPutJsonChars(to, reinterpret_cast<const uint8_t*>(text), length);
}

// "00" to "99", two characters each.
struct VLDigitPairs {
    char chars[200];
};
static constexpr VLDigitPairs VLMakeDigitPairs() {
    VLDigitPairs pairs{};
    for (int i = 0; i < 100; ++i) {
        pairs.chars[2 * i] = char('0' + i / 10);
        pairs.chars[2 * i + 1] = char('0' + i % 10);
    }
    return pairs;
}
static constexpr VLDigitPairs VLDigitPairTable = VLMakeDigitPairs();

// The decimal digits of a number, two at a time from the end (its length
// is known first); returns the end.
char* VLPutDecimal(char* to, uint64_t value) {
    char* end = to + VLDecimalDigits(value);
    char* cursor = end;
    while (value >= 100) {
        cursor -= 2;
        memcpy(cursor, VLDigitPairTable.chars + 2 * (value % 100), 2);
        value /= 100;
    }
    if (value >= 10) {
        cursor -= 2;
        memcpy(cursor, VLDigitPairTable.chars + 2 * value, 2);
    } else {
        *--cursor = char('0' + value);
    }
    return end;
}

static inline char* VLPutUnsigned(char* to, uint64_t value) { return VLPutDecimal(to, value); }

// A float as the shortest number that reads back as the same value; the
// non-finite values as the strings "nan", "inf" and "-inf". At most 34 bytes.
static char* VLPutJsonFloat(char* to, uint64_t bits, uint64_t size) {
    double value = size == 4 ? double(std::bit_cast<float>(uint32_t(bits))) : std::bit_cast<double>(bits);
    if (std::isnan(value)) return VLPut(to, "\"nan\"");
    if (std::isinf(value)) return value > 0 ? VLPut(to, "\"inf\"") : VLPut(to, "\"-inf\"");
    char* end = size == 4 ? std::to_chars(to, to + 32, std::bit_cast<float>(uint32_t(bits))).ptr
                          : std::to_chars(to, to + 32, value).ptr;
    // A whole number gets ".0", so that every reader takes it for a float
    // (and -0 keeps its sign).
    if (!memchr(to, '.', size_t(end - to)) && !memchr(to, 'e', size_t(end - to))) end = VLPut(end, ".0");
    return end;
}

// Room for the fields of a member apart from the path, the enumeration's
// name, the text and a value written apart: the keys, three numbers of at
// most 20 digits, the type and display names.
enum : size_t { VLJsonMemberRoom = 200 };

void VLWriteJsonMember(VLWriter* out, const VLMemberEvent* event, VLString before, VLString after) {
    const VLInstruction* instruction = event->instruction;
    const auto& scalar = instruction->scalarExport;
    const VLEnum* enumeration = scalar.enumeration;
    const VLValueSource& source = event->value;  // what the value is decoded from: the text column's own
    VLDecodedValue value = VLDecodeValue(source.type, source.flags, enumeration, source.bytes);
    char text[VLValueTextLimit];
    uint32_t textLength;
    bool grouped = (value.kind == VLValueKind_Unsigned || value.kind == VLValueKind_Signed) &&
                   VLValueTextIsGrouped(source.type, source.flags, enumeration, source.bytes);
    if (grouped) {  // digits, spaces and a sign: nothing to escape
        bool negative = value.kind == VLValueKind_Signed && int64_t(value.bits) < 0;
        textLength = VLFormatGrouped(negative ? ~value.bits + 1 : value.bits, negative, text);
    } else {
        textLength = VLFormatValue(source.type, source.flags, enumeration, source.bytes, text);
    }
    VLString path = event->path;
    VLString enumName = enumeration ? enumeration->name : VLString{0, ""};
    size_t room = VLJsonMemberRoom + before.length + after.length + path.length + enumName.length + 6 * size_t(textLength);
    char* start = VLWriterReserve(out, room);
    char* cursor = VLPutChars(start, before.chars, before.length);
    if (path.length) {  // names are identifiers: nothing to escape
        cursor = VLPut(cursor, "\"path\":\"");
        cursor = VLPutChars(cursor, path.chars, path.length);
        cursor = VLPut(cursor, "\",");
    }
    cursor = VLPut(cursor, "\"offset\":");
    cursor = VLPutUnsigned(cursor, event->bytes.address);
    cursor = VLPut(cursor, ",\"size\":");
    cursor = VLPutUnsigned(cursor, event->bytes.size);
    cursor = VLPut(cursor, ",\"type\":\"");
    const char* type = VLMemberTypeName(instruction->type, scalar.flags, enumeration);
    cursor = VLPutChars(cursor, type, type[1] ? strlen(type) : 1);
    *cursor++ = '"';
    if (const char* display = VLMemberDisplayName(scalar.flags, enumeration)) {
        cursor = VLPut(cursor, ",\"display\":\"");
        cursor = VLPutChars(cursor, display, strlen(display));
        *cursor++ = '"';
    }
    if (enumeration) {
        cursor = VLPut(cursor, ",\"enum\":\"");
        cursor = VLPutChars(cursor, enumName.chars, enumName.length);
        *cursor++ = '"';
    }
    cursor = VLPut(cursor, ",\"value\":");
    // Each kind of value has its case; numbers are written in place, the rest
    // (of any length) through the writer.
    switch (value.kind) {
        case VLValueKind_Unsigned:  // exact, all 64 bits
            cursor = VLPutUnsigned(cursor, value.bits);
            break;
        case VLValueKind_Signed:
            if (int64_t(value.bits) < 0) *cursor++ = '-';
            cursor = VLPutDecimal(cursor, int64_t(value.bits) < 0 ? ~value.bits + 1 : value.bits);
            break;
        case VLValueKind_Float:
            cursor = VLPutJsonFloat(cursor, value.bits, source.bytes->size);
            break;
        default:
            out->used += size_t(cursor - start);
            switch (value.kind) {
                case VLValueKind_String:
                    VLWriteJsonBytesAsString(out, source.bytes);
                    break;
                case VLValueKind_Enumeration:  // the number, then the names it is shown by
                    VLWriteUnsigned(out, value.bits);
                    VLWriteJsonNames(out, enumeration, event, value.bits);
                    break;
                default:  // raw and wide members: all bytes in hexadecimal
                    VLWriteJsonHex(out, source.bytes);
                    break;
            }
            start = VLWriterReserve(out, 16 + after.length + 6 * size_t(textLength));
            cursor = start;
            break;
    }
    cursor = VLPut(cursor, ",\"text\":\"");
    cursor = grouped ? VLPutChars(cursor, text, textLength) : VLPutJsonText(cursor, text, textLength);
    *cursor++ = '"';
    cursor = VLPutChars(cursor, after.chars, after.length);
    out->used += size_t(cursor - start);
}

void VLWriteJsonReportFields(VLWriter* out, const VLReportEvent* event, const char* messageKey) {
    VLWriteChar(out, '"');
    VLWriteText(out, messageKey);
    VLWriteText(out, "\":");
    VLWriteJsonString(out, event->message.chars, event->message.length);
    VLWriteText(out, ",\"path\":");
    VLWriteJsonString(out, event->path.chars, event->path.length);
    VLWriteText(out, ",\"offset\":");
    VLWriteSigned(out, event->offset);
}
