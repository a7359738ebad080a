// Display.h - the text formatters behind member lines and struct headers.
//
// Each formatter writes into a caller buffer and returns the length of the text
// (no terminating NUL). Value texts are at most VLValueTextLimit characters,
// names and header lines at most VLNameTextLimit. The measuring functions give
// the exact length of the text the matching formatter would build, without
// building it where that can be computed directly.
#pragma once

#include <bit>
#include <cstring>

#include "Vellum.h"

enum : uint32_t {
    VLValueTextLimit = 128,   // value texts, including an enumeration's flag list
    VLFloatTextLimit = 127,   // a float text, which also keeps room for its terminator
    VLNameTextLimit = 255,    // names and header lines, which keep room for a terminator
    VLAddressTextLimit = 24,  // eight bytes as "XX " plus the suffix
};

// The bytes of one member: `size` bytes from `address` in the data. Bytes at or
// beyond the end of the data read as 0.
struct VLMemberBytes {
    const uint8_t* data;
    uint64_t dataSize;
    uint64_t address;
    uint64_t size;
};

// Byte `index` of the member in file order.
uint8_t VLMemberByte(const VLMemberBytes* bytes, uint64_t index);

// The member as a number of at most 8 bytes in its byte order; 0 when it is
// longer than 8 bytes, empty, or does not lie wholly inside the data.
uint64_t VLMemberValue(const VLMemberBytes* bytes, bool bigEndian);

// `length` bytes of text that may end anywhere (a name in the layout text):
// nothing past its end is read. Short texts go in two overlapping fixed-size moves.
inline void VLPutText(char* to, const char* from, uint32_t length) {
    if (length >= 8 && length <= 16) {
        memcpy(to, from, 8);
        memcpy(to + length - 8, from + length - 8, 8);
    } else if (length > 16 && length <= 32) {
        memcpy(to, from, 16);
        memcpy(to + length - 16, from + length - 16, 16);
    } else if (length >= 4 && length < 8) {
        memcpy(to, from, 4);
        memcpy(to + length - 4, from + length - 4, 4);
    } else if (length > 0 && length < 4) {
        to[0] = from[0];
        to[length / 2] = from[length / 2];
        to[length - 1] = from[length - 1];
    } else {
        memcpy(to, from, length);
    }
}

// Decimal digit count of a number (1 for 0 to 9).
// 10^0 to 10^19, for digit counts.
struct VLPowersOfTen {
    uint64_t values[20];
};
constexpr VLPowersOfTen VLMakePowersOfTen() {
    VLPowersOfTen powers{};
    uint64_t power = 1;
    for (int i = 0; i < 20; ++i, power *= 10) powers.values[i] = power;
    return powers;
}
inline constexpr VLPowersOfTen VLPowerOfTenTable = VLMakePowersOfTen();

// The digit count from the bit count: 1233 / 4096 is just above log10(2), so
// the estimate is the count or one less, and one comparison settles it.
inline uint32_t VLDecimalDigits(uint64_t value) {
    uint32_t estimate = (uint32_t(std::bit_width(value)) * 1233) >> 12;
    return estimate + (value >= VLPowerOfTenTable.values[estimate]) + (value == 0);
}

// Address column: hexadecimal bytes, most significant first, leading zero bytes
// left out, "h" at the end ("0h", "05h", "1A 2Bh").
uint32_t VLFormatAddress(uint64_t address, char* buffer);
uint32_t VLAddressWidth(uint64_t address);

// Digits in groups of three separated by a space, with "-" when negative.
uint32_t VLFormatGrouped(uint64_t magnitude, bool negative, char* buffer);
uint32_t VLGroupedWidth(uint64_t magnitude, bool negative);

// Value formatters. `flags` are the member's VLMemberFlags; buffers hold at
// least VLValueTextLimit characters (VLFormatHex: at least `limit`).
uint32_t VLFormatDecimal(const VLMemberBytes* bytes, uint32_t flags, bool isSigned, char* buffer);
uint32_t VLFormatHex(const VLMemberBytes* bytes, uint32_t flags, char* buffer, uint32_t limit);
uint32_t VLFormatBinary(const VLMemberBytes* bytes, uint32_t flags, char* buffer);
uint32_t VLFormatString(const VLMemberBytes* bytes, char* buffer);
uint32_t VLFormatFloat(const VLMemberBytes* bytes, uint32_t flags, char* buffer);
uint32_t VLFormatEnumeration(const VLEnum* enumeration, const VLMemberBytes* bytes, uint32_t flags,
                             char* buffer);

// The value column of a scalar member of kind `type` (VLInstructionType_ScalarMemberU,
// S or F): the enumeration's names when one is given, else by the display settings.
uint32_t VLFormatValue(int32_t type, uint32_t flags, const VLEnum* enumeration,
                       const VLMemberBytes* bytes, char* buffer);
uint32_t VLValueWidth(int32_t type, uint32_t flags, const VLEnum* enumeration,
                      const VLMemberBytes* bytes);

// What a member's value is, apart from how the value column shows it: the
// JSON outputs write it, the text output formats it.
enum VLValueKind : uint32_t {
    VLValueKind_Unsigned = 0,     // bits: the number
    VLValueKind_Signed = 1,       // bits: the number, sign-extended to 64 bits
    VLValueKind_Float = 2,        // bits: the float's bits (4 or 8 bytes)
    VLValueKind_String = 3,       // the bytes are the text
    VLValueKind_Bytes = 4,        // raw members, and members no number holds (over 8 bytes, odd float sizes)
    VLValueKind_Enumeration = 5,  // bits: the unsigned number the names are looked up by
};
struct VLDecodedValue {
    uint32_t kind;  // VLValueKind
    uint64_t bits;
};
VLDecodedValue VLDecodeValue(int32_t type, uint32_t flags, const VLEnum* enumeration, const VLMemberBytes* bytes);
// True when the value column of a member is VLFormatGrouped of its decoded
// value (an integer of at most 8 bytes shown in decimal), so that a caller
// holding the decoded value can build the text without reading the bytes again.
inline bool VLValueTextIsGrouped(int32_t type, uint32_t flags, const VLEnum* enumeration, const VLMemberBytes* bytes) {
    return !enumeration && type != VLInstructionType_ScalarMemberF && VLDisplayTypeOf(flags) == VLDisplayType_Decimal &&
           bytes->size > 0 && bytes->size <= 8;
}
// The declared kind: "u", "s", "f", "string" or "raw" (an enumeration: "u"),
// "zstring", "uleb", "sleb", "vlq"; a computed value (show) is an "s".
const char* VLMemberTypeName(int32_t type, uint32_t flags, const VLEnum* enumeration);
// The display setting when it is not the kind's usual one (decimal; hex for
// raw): "hex", "binary", "octal" or "decimal"; null otherwise.
const char* VLMemberDisplayName(uint32_t flags, const VLEnum* enumeration);
// The entry an enumeration value is shown by (null when none is equal), and
// the flags: each call gives the next entry at or after `from` whose bits are
// all in `*rest` and takes them out of it (null when no more).
const VLEnumValue* VLEnumerationEntry(const VLEnum* enumeration, const VLMemberBytes* bytes, uint32_t flags);
const VLEnumValue* VLNextEnumerationFlag(const VLEnumValue* from, uint64_t* rest);

// Name column: the name, and for an array member "[index]" with the index
// right-aligned in `indexWidth` digits. A name too long for the column is
// shortened; the bracketed index always stays whole.
uint32_t VLFormatMemberName(VLString name, bool isArray, uint64_t indexWidth, uint32_t index,
                            char* buffer);
uint32_t VLMemberNameWidth(VLString name, bool isArray, uint64_t indexWidth, uint32_t index);

// Struct header line without its line break: "Type", "Type (.member)" or
// "Type (.member[index])". Names too long for the line are shortened; the
// decorations and the index always stay whole.
uint32_t VLFormatStructHeader(VLString typeName, VLString memberName, bool isArray, uint64_t index,
                              char* buffer);

// ---------------------------------------------------------------------------
// Members in a run
// ---------------------------------------------------------------------------
struct VLColumns;
struct VLWriter;
// The value of a location as VLResolveLocation gives it, with the two common
// cases (innermost and global frame) read directly.
inline int64_t VLSlotValue(VLRuntime* runtime, VLLocation location) {
    if (location.depth == 0 && location.index < VLFrameSlotCount) {
        if (location.kind == VLLocationKind_Local && runtime->frames) return runtime->frames->slots[location.index];
        if (location.kind == VLLocationKind_Global && runtime->globalFrame)
            return runtime->globalFrame->slots[location.index];
    }
    return *VLResolveLocation(runtime, location);
}
// The bytes of a member that has just run (none for a computed value).
inline VLMemberBytes VLBytesOfMember(const VLInstruction* member, VLRuntime* runtime) {
    int64_t address = VLSlotValue(runtime, member->scalarExport.address);
    int64_t size = member->type == VLInstructionType_ShowMember ? 0 : VLSlotValue(runtime, member->scalarExport.size);
    return {runtime->data, runtime->dataSize, uint64_t(address), size > 0 ? uint64_t(size) : 0};
}
// What a member's value column is formatted from, taken right after its
// step: the formatter's kind (ScalarMemberU, S or F), the flags as the member
// reads now and the bytes. Members whose value is not their bytes as they lie
// in the data are shown through eight bytes holding the value (in hex and
// binary only as many as the value needs), as a u member of that size would
// be (s when negative): variable-length integers and computed values. A
// zstring is its text without the NUL; an empty value (a size of 0 the
// zero-counts default allows) is shown as "".
struct VLValueSource {
    int32_t type;
    uint32_t flags;
    const VLMemberBytes* bytes;  // the member's own bytes, or `own`
    VLMemberBytes own;           // the bytes of a value that is not the member's bytes as they lie
    uint8_t scratch[8];          // a value that is not data (own.data then points here)
};
void VLAdjustValueSource(const VLInstruction* member, VLRuntime* runtime, VLValueSource* source);
// Fills `source` in place for a member whose bytes are `*bytes` (which must
// outlive it); it may point into itself, so it is not copied afterwards.
inline void VLValueSourceOf(const VLInstruction* member, VLRuntime* runtime, const VLMemberBytes* bytes,
                            VLValueSource* source) {
    source->type = member->type;
    source->flags = member->scalarExport.flags;
    source->bytes = bytes;
    if (source->flags & VLMemberFlag_Adjusted) VLAdjustValueSource(member, runtime, source);
}
// Element number of the array being expanded at frame level `fromTop` below
// the innermost one (2 for a scalar, 3 for a struct just pushed); 0 when there
// is no such level.
inline uint32_t VLElementIndex(const VLRuntime* runtime, uint32_t fromTop) {
    if (runtime->stackCount < fromTop) return 0;
    uint32_t entry = runtime->stackCount - fromTop;
    return entry < VLMaxNesting ? runtime->arrayIndices[entry] : 0;
}
// The type a push-frame that has just run named (null when none).
const VLTypeDefinition* VLPushedType(const VLInstruction* pushFrame, VLRuntime* runtime);
// A member line (VLPrintMember) from the member's bytes and element number;
// a header line (VLPrintStructHeader) from the type, member name and element.
void VLPrintMemberLine(VLInstruction* member, const VLMemberBytes* bytes, const VLValueSource* value, bool isArray,
                       uint32_t index, VLColumns* columns, VLWriter* out);
void VLPrintStructHeaderLine(const VLTypeDefinition* type, VLString member, bool isArray, uint32_t index,
                             VLWriter* out);
