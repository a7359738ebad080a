// Vellum.h - the layout language: tokens, the compiled program, the runtime.
//
// This is the one public header of the core. It declares the records that the
// scanner, the compiler and the runtime hand to each other and to the
// command-line front end, and the entry operations VLTokenize, VLCompile and
// VLRuntimeStep. Everything is plain records and free functions; failures are
// values (an error record, result flags), never exceptions.
#pragma once

#include <cstddef>
#include <cstdint>

// ---------------------------------------------------------------------------
// Assertions: internal invariants. A failed assertion is a defect of Vellum,
// never a report about the user's layout or data.
// ---------------------------------------------------------------------------
[[noreturn]] void VLAssertFailed(const char* expression, const char* file, int line);
#define VL_ASSERT(expression) \
    ((expression) ? (void)0 : VLAssertFailed(#expression, __FILE__, __LINE__))

// ---------------------------------------------------------------------------
// Arena: bump allocation of records that live as long as their owner (the
// token list, the compiled program, one runtime). Memory is zeroed. Releasing
// an arena frees every record it handed out at once.
// ---------------------------------------------------------------------------
struct VLArenaBlock;
struct VLArena {
    VLArenaBlock* blocks;   // newest block first
    char* cursor;           // next free byte of the newest block
    char* limit;            // end of the newest block
    uint64_t totalBytes;    // bytes of all blocks in use, for statistics and limits
    VLArenaBlock* spare;    // blocks kept by VLArenaReset, oldest first, used again before new ones
    char* dirty;            // end of what the newest block handed out before the reset (zeroed again on reuse)
};
void* VLArenaAlloc(VLArena* arena, size_t size);  // zeroed, 16-byte aligned; never null
void VLArenaRelease(VLArena* arena);              // frees all blocks; the arena is empty again
// Empties the arena but keeps its blocks of regular size, so that the next
// records come from memory already in place; they are zeroed as they are handed out.
void VLArenaReset(VLArena* arena);
template <class T> T* VLArenaNew(VLArena* arena, size_t count = 1) {
    return static_cast<T*>(VLArenaAlloc(arena, sizeof(T) * count));
}

// ---------------------------------------------------------------------------
// Text references.
// ---------------------------------------------------------------------------
struct VLString {
    uint32_t length;
    const char* chars;  // no terminating NUL
};
bool VLStringEquals(VLString a, VLString b);        // same length, same bytes
bool VLStringEqualsText(VLString a, const char* text);

// Packs up to four characters into a punctuation or operator code, the first
// character in the lowest byte: VLCode("<=") == '<' + 256 * '='.
constexpr uint32_t VLCode(const char* text) {
    uint32_t code = 0;
    for (int i = 0; i < 4 && text[i]; ++i) code |= uint32_t(uint8_t(text[i])) << (8 * i);
    return code;
}

// ---------------------------------------------------------------------------
// Scanner and tokens
// ---------------------------------------------------------------------------
struct VLToken;

struct VLScanPosition {
    const char* cursor;   // current character
    uint32_t offset;      // bytes consumed from the start of the text
    uint32_t line;        // from 0
    uint32_t column;      // display column from 0, tab stops every 8
    uint32_t byteColumn;  // bytes since the start of the line
};

struct VLLine {
    VLLine* next;
    VLScanPosition start;  // first character of the line
    VLToken* token;        // the scanner's current token when the break was crossed
};

enum VLTokenType : int32_t {
    VLTokenType_Invalid = 0,
    VLTokenType_Identifier = 1,
    VLTokenType_String = 2,
    VLTokenType_Number = 3,
    VLTokenType_Punctuation = 4,
};

enum VLNumberBase : uint32_t {
    VLNumberBase_None = 0,
    VLNumberBase_Binary = 1,
    VLNumberBase_Octal = 2,
    VLNumberBase_Decimal = 3,
    VLNumberBase_Hex = 4,
};

struct VLToken {
    VLTokenType type;
    uint32_t file;         // the layout file it comes from: 0 the layout, others numbered by the front end
    VLScanPosition start;  // first character
    VLScanPosition end;    // last character (inclusive)
    VLToken* next;         // following token in text order, invalid ones included
    // The fields of the token's kind: only the variant of its type is meaningful
    // (a closer turned invalid keeps its punctuation fields).
    union {
        struct {
            uint8_t quote;
            uint32_t length;           // content bytes between the quotes
            const char* contentFirst;
            const char* contentLast;
        } string;
        struct {
            uint32_t base;   // VLNumberBase
            uint64_t value;
        } number;
        struct {
            uint32_t code;
            VLToken* match;      // the paired bracket, or null
            // An opener: the bracket open before it (scanning only). A closer
            // turned invalid: the bracket it could not close, or null.
            VLToken* enclosing;
        } punctuation;
    };
    struct {
        VLToken* nextInvalid;
    } invalid;
};

// Text of a token: from start.cursor through end.cursor.
VLString VLTokenText(const VLToken* token);

enum VLEolType : uint32_t {
    VLEolType_None = 0,
    VLEolType_LF = 1,
    VLEolType_CRLF = 2,
    VLEolType_CR = 3,
    VLEolType_LFCR = 4,
};

struct VLScanner {
    VLScanPosition position;
    char current;             // character at position.cursor (NUL at the end)
    VLToken* currentToken;
    uint32_t lineCount;
    VLLine** linesTail;       // where the next line record goes; null for look-ahead copies
    uint32_t eolCounts[4];    // LF, CR LF, CR, LF CR
    VLArena* arena;
};

struct VLScanResult {
    VLToken* tokens;
    VLToken* invalidTokens;
    uint32_t eolType;  // VLEolType
    uint32_t lineCount;
    VLLine firstLine;
};

// Tokenizes a NUL-terminated text. Tokens and line records come from the
// arena; every token carries `file`, the number of the file the text is.
VLScanResult VLTokenize(const char* text, VLArena* arena, uint32_t file = 0);
bool VLHasReachedEnd(const VLScanner* scanner);
void VLAdvance(VLScanner* scanner);
void VLPeek(const VLScanner* scanner, uint32_t count, char* buffer);
void VLSkipBlanks(VLScanner* scanner);
uint32_t VLOperatorCode(const VLToken* token);

// Number literals (binary, octal, decimal, hexadecimal, with ' separators).
struct VLNumberResult {
    uint32_t base;  // VLNumberBase; 0 = not a number
    uint64_t value;
};
VLNumberResult VLScanNumber(VLScanner* scanner);

// ---------------------------------------------------------------------------
// Instructions
// ---------------------------------------------------------------------------
enum VLLocationKind : int32_t {
    VLLocationKind_None = 0,
    VLLocationKind_Local = 1,
    VLLocationKind_Global = 2,
};

struct VLLocation {
    int32_t kind;    // VLLocationKind
    uint32_t depth;
    uint32_t index;
};

enum { VLFrameSlotCount = 64, VLMaxPathSteps = 16, VLMaxParameters = 16, VLMaxNesting = 16 };

// What the front end sees an instruction as; VLRuntimeRun stops after the
// kinds it is asked to show (while members are shown).
enum VLRuntimeShow : uint32_t {
    VLRuntimeShow_None = 0,     // nothing to show
    VLRuntimeShow_Structs = 1,  // push-frame, pop-frame
    VLRuntimeShow_Members = 2,  // members: one line each
    VLRuntimeShow_Prints = 4,   // print
    VLRuntimeShow_All = 7,
};

// The instruction set, one row per kind in number order:
//   X(Name, listing shape, listing words, listing suffix, run helper, shown as, operator)
// The enumeration, the -debug listing table (cli/Listing.cpp), the step
// interpreter's cases and the run loop's decoder (core/Runtime.cpp) are all
// made from this list. "Run helper" names the runtime helper VLRun<helper>
// that gives the kind its meaning in both loops; "shown as" is the
// VLRuntimeShow kind the front end sees the instruction as (None: not shown);
// "operator" the text of the operator a unary or binary kind evaluates.
// Kinds 0 to 44 are numbered for good: new kinds go at the end.
#define VL_INSTRUCTION_SET(X)                                                                    \
    X(Invalid, Text, "INVALID INSTRUCTION", "", Nothing, None, "")        /* no effect */            \
    X(LoadConstant, Constant, " <- ", "", LoadConstant, None, "")         /* D = value */            \
    X(Negate, Unary, " <- -", "", Unary, None, "-")                        /* D = -operand */         \
    X(LogicalNot, Unary, " <- !", "", Unary, None, "!")                    /* D = operand == 0 */     \
    X(BitwiseNot, Unary, " <- ~", "", Unary, None, "~")                    /* D = ~operand */         \
    X(Abs, Unary, " <- abs(", ")", Unary, None, "abs")                       /* D = |operand| */        \
    X(Copy, Unary, " <- ", "", Unary, None, "")                           /* D = operand */          \
    X(Add, Binary, " + ", "", Binary, None, "+")                           /* D = left + right */     \
    X(Subtract, Binary, " - ", "", Binary, None, "-")                      /* D = left - right */     \
    X(Multiply, Binary, " * ", "", Binary, None, "*")                      /* D = left * right */     \
    X(Divide, Binary, " / ", "", Binary, None, "/")                        /* D = left / right */     \
    X(Modulo, Binary, " % ", "", Binary, None, "%")                        /* D = left % right */     \
    X(Less, Binary, " < ", "", Binary, None, "<")                          /* D = left < right */     \
    X(LessEqual, Binary, " <= ", "", Binary, None, "<=")                    /* D = left <= right */    \
    X(Equal, Binary, " == ", "", Binary, None, "==")                        /* D = left == right */    \
    X(Greater, Binary, " > ", "", Binary, None, ">")                       /* D = left > right */     \
    X(GreaterEqual, Binary, " >= ", "", Binary, None, ">=")                 /* D = left >= right */    \
    X(NotEqual, Binary, " != ", "", Binary, None, "!=")                     /* D = left != right */    \
    X(ShiftLeft, Binary, " << ", "", Binary, None, "<<")                    /* D = left << (right & 63) */ \
    X(ShiftRight, Binary, " >> ", "", Binary, None, ">>")                   /* D = left >> (right & 63), arithmetic */ \
    X(BitwiseAnd, Binary, " & ", "", Binary, None, "&")                    /* D = left & right */     \
    X(BitwiseOr, Binary, " | ", "", Binary, None, "|")                     /* D = left | right */     \
    X(BitwiseXor, Binary, " ^ ", "", Binary, None, "^")                    /* D = left ^ right */     \
    X(LogicalAnd, Binary, " && ", "", Binary, None, "&&")                   /* D = left && right */    \
    X(LogicalOr, BinaryValued, " || ", "", Binary, None, "||")              /* D = left || right */    \
    X(PushFrame, PushFrame, "push-frame", "", PushFrame, Structs, "")     /* member record of a struct instance, new frame */ \
    X(PopFrame, Text, "pop-frame", "", PopFrame, Structs, "")             /* drop the innermost frame */ \
    X(StartStructDefinition, StructStart, "start struct-definition ", "", SkipDefinition, None, "") /* reached in sequence: skip the body */ \
    X(EndStructDefinition, Text, "end struct-definition", "", Return, None, "") /* return through slot 0 */ \
    X(SetArrayIndex, ArrayIndex, "index-", "", SetArrayIndex, None, "")   /* element number for the members declared next */ \
    X(ScalarMemberU, Scalar, "scalar-member-u(", "", ScalarMember, Members, "") /* read an unsigned scalar */ \
    X(ScalarMemberS, Scalar, "scalar-member-s(", "", ScalarMember, Members, "") /* read a signed scalar */ \
    X(ScalarMemberF, Scalar, "scalar-member-f(", "", ScalarMember, Members, "") /* read the bits of a float */ \
    X(ValueOfMember, Fetch, "value-of-member", "", ValueOfMember, None, "") /* D = value of a member found by path */ \
    X(Goto, Jump, "", "", Goto, None, "")                                 /* jump, conditional when condition is set */ \
    X(SizeOfFile, Destination, "size-of-file", "", SizeOfFile, None, "")  /* D = size of the data */ \
    X(HideMembers, Text, "hide-members", "", HideMembers, None, "")       /* hidden-members counter + 1 */ \
    X(ShowMembers, Text, "show-members", "", ShowMembers, None, "")       /* hidden-members counter - 1 */ \
    X(FetchStartOfType, TypeLookup, "fetch-start-of-type", "", FetchStartOfType, None, "") /* D = start instruction of (category, key) */ \
    X(FetchMemberCountOfType, TypeLookup, "fetch-member-count-of-type", "", FetchMemberCountOfType, None, "") /* D = member count of (category, key) */ \
    X(FetchTypeIndex, TypeLookup, "fetch-type-index", "", FetchTypeIndex, None, "") /* D = type index of (category, key) */ \
    X(HasType, TypeLookup, "has-type", "", HasType, None, "")             /* D = 1 if (category, key) is registered */ \
    X(Assert, Assert, "assert(", ")", Assert, None, "")                   /* report when condition is 0 */ \
    X(Print, Print, "print(", ")", Print, Prints, "")                     /* the front end prints message and value */ \
    X(Breakpoint, Text, "breakpoint", "", Nothing, None, "")              /* no effect */             \
    X(ZStringMember, Scalar, "zstring-member(", "", MeasuredMember, Members, "") /* text through its NUL within a bound; size: bound in, bytes taken out */ \
    X(ULebMember, Scalar, "uleb-member(", "", MeasuredMember, Members, "") /* unsigned LEB128 within a bound; size as above */ \
    X(SLebMember, Scalar, "sleb-member(", "", MeasuredMember, Members, "") /* signed LEB128 within a bound; size as above */ \
    X(VlqMember, Scalar, "vlq-member(", "", MeasuredMember, Members, "")   /* base-128, high groups first, within a bound; size as above */ \
    X(ShowMember, Show, "show-member(", "", ShowMember, Members, "")       /* a computed value shown as a member of size 0 */

enum VLInstructionType : int32_t {
#define VL_INSTRUCTION_ENUMERATOR(name, shape, words, suffix, run, shown, op) VLInstructionType_##name,
    VL_INSTRUCTION_SET(VL_INSTRUCTION_ENUMERATOR)
#undef VL_INSTRUCTION_ENUMERATOR
    VLInstructionType_Count,

    VLInstructionType_FirstUnary = VLInstructionType_Negate,
    VLInstructionType_LastUnary = VLInstructionType_Copy,
    VLInstructionType_FirstBinary = VLInstructionType_Add,
    VLInstructionType_LastBinary = VLInstructionType_LogicalOr,
};
// The numbers of the first kinds are fixed: listings and tests name them.
static_assert(VLInstructionType_LoadConstant == 1 && VLInstructionType_Add == 7 &&
                  VLInstructionType_LogicalOr == 24 && VLInstructionType_PushFrame == 25 &&
                  VLInstructionType_ScalarMemberU == 30 && VLInstructionType_Goto == 34 &&
                  VLInstructionType_Breakpoint == 44,
              "kinds 0 to 44 keep their numbers");

// True for the kinds that show one member line (the scalar members and the
// other kinds the front end sees as members).
constexpr bool VLIsMemberKind(int32_t type) {
    switch (type) {
#define VL_MEMBER_CASE(name, shape, words, suffix, run, shown, op) \
    case VLInstructionType_##name: return VLRuntimeShow_##shown == VLRuntimeShow_Members;
        VL_INSTRUCTION_SET(VL_MEMBER_CASE)
#undef VL_MEMBER_CASE
    default: return false;
    }
}

struct VLEnum;
struct VLTypeDefinition;

struct VLPathStep {
    uint32_t memberIndex;   // appearance number of a member within the current record
    VLLocation arrayIndex;  // element number within that member
};

struct VLInstruction {
    int32_t type;            // VLInstructionType
    VLLocation destination;
    uint32_t index;          // number in the list
    uint64_t indexWidth;     // widest array index printed (written by the display)
    union {
        struct { uint64_t value; } constant;
        struct { VLLocation operand; } unary;
        struct { VLLocation left; VLLocation right; } binary;
        struct {
            VLLocation typeIndex;    // None: the frame has no member record
            VLString name;           // empty for the layout root
            VLLocation arrayCount;   // None: not an array
            uint32_t memberIndex;
            VLLocation memberCount;
            uint32_t detached;       // 1: the record belongs to no member array (sizeof)
            uint32_t referenced;     // 1: a member path names this member (its records are kept)
            VLToken* nameToken;      // the member's name in the layout, for reports; null for the root
        } pushFrame;
        struct {
            VLString name;
            uint32_t endIndex;
        } structDefinition;
        struct { VLLocation value; } arrayIndex;
        struct {
            VLToken* placementFirst;
            VLToken* placementLast;
            VLToken* sizeFirst;
            VLToken* sizeEnd;
            VLString name;
            uint32_t appearIndex;
            VLLocation address;
            VLLocation size;
            // Here rather than last: it fills the padding before the pointer below.
            uint32_t referenced;     // 1: a member path names this member (its values are kept)
            VLEnum* enumeration;
            uint32_t flags;          // VLMemberFlags
            VLLocation arrayCount;   // None: not an array
            union {
                VLLocation byteOrder;  // not show: None, the flags give the byte order; else non-zero = big
                VLLocation value;      // show: the slot holding the value shown
            };
        } scalarExport;
        struct {
            uint32_t pathCount;
            VLPathStep* path;        // pathCount steps, an array of the program's arena
            VLToken* first;          // first token of the path, for reports
            VLToken* end;            // token after the path
        } fetch;
        struct {
            VLLocation target;       // None: use targetIndex
            uint32_t targetIndex;
            VLLocation condition;    // None: unconditional
        } jump;
        struct {
            uint32_t categoryIndex;
            VLLocation key;
            VLString categoryName;   // for reports
            VLToken* first;          // the category reference's tokens, for reports
            VLToken* end;
        } typeLookup;
        struct {
            VLLocation condition;
            VLToken* token;          // the assert keyword
        } assertion;
        struct {
            VLString message;
            VLLocation value;        // None: text only
        } print;
    };
};

enum { VLInstructionChunkCapacity = 256 };

struct VLInstructionChunk {
    VLInstructionChunk* next;
    uint32_t count;
    VLInstruction items[VLInstructionChunkCapacity];
};

struct VLInstructionList {
    uint32_t totalCount;
    VLInstructionChunk* first;
    VLInstructionChunk* last;
};

// A place in the instruction list; the end when chunk is null or place >= chunk->count.
struct VLInstructionPosition {
    VLInstructionChunk* chunk;
    uint32_t place;
};

VLInstructionPosition VLInstructionAt(const VLInstructionList* list, uint32_t number);
VLInstruction* VLInstructionPointer(const VLInstructionList* list, uint32_t number);

// Operator semantics shared by compile-time folding and the runtime. Values are
// computed on unsigned 64-bit numbers and converted back, so nothing overflows.
int64_t VLEvaluateUnary(int32_t kind, int64_t operand);              // kinds 2..6
int64_t VLEvaluateBinary(int32_t kind, int64_t left, int64_t right);  // kinds 7..24
int32_t VLUnaryKindOfOperator(uint32_t code);   // 0 when the code is no prefix operator
int32_t VLBinaryKindOfOperator(uint32_t code);  // 0 when the code is no binary operator

// ---------------------------------------------------------------------------
// Types, members, enumerations, typedefs
// ---------------------------------------------------------------------------
enum VLDisplayType : uint32_t {
    VLDisplayType_Decimal = 0,
    VLDisplayType_Binary = 1,
    VLDisplayType_Octal = 2,
    VLDisplayType_Hex = 3,
    VLDisplayType_String = 4,
};
enum VLMemberFlag : uint32_t {
    VLMemberFlag_Raw = 0x100,
    VLMemberFlag_BigEndian = 0x1000,
    VLMemberFlag_MayBeEmpty = 0x2000,  // string, raw, zstring after default(zero_counts = empty): size 0 is ""
    // The value is not simply the member's bytes read as the other flags say:
    // the kinds after f, endian(expression), members that may be empty.
    VLMemberFlag_Adjusted = 0x4000,
};
inline uint32_t VLDisplayTypeOf(uint32_t flags) {
    return flags & ~uint32_t(VLMemberFlag_Raw | VLMemberFlag_BigEndian | VLMemberFlag_MayBeEmpty | VLMemberFlag_Adjusted);
}

// Variable-length integers (uleb, sleb, vlq members): the value of the bytes
// from `bytes` on, of which `available` may be read. Done: `length` bytes
// taken up to and including the final byte (high bit clear). NoFinalByte:
// every available byte has its high bit set. TooLarge: the value needs more
// than 64 bits (a signed one: more than a sign-extended 64-bit number); groups
// beyond 64 bits that only repeat the value's top (0, or the sign) are allowed.
enum VLVarintStatus : uint32_t {
    VLVarintStatus_Done = 0,
    VLVarintStatus_NoFinalByte = 1,
    VLVarintStatus_TooLarge = 2,
};
struct VLVarint {
    uint32_t status;  // VLVarintStatus
    uint64_t length;
    uint64_t value;   // sleb: the two's complement of the signed value
};
VLVarint VLDecodeVarint(int32_t type, const uint8_t* bytes, uint64_t available);  // type: ULeb, SLeb, Vlq member

struct VLLocalVariable {
    VLLocalVariable* next;
    VLString name;
    VLLocation location;
};

enum VLTypeReferenceKind : uint32_t {
    VLTypeReference_None = 0,
    VLTypeReference_Type = 1,
    VLTypeReference_Category = 2,
};

struct VLTypeReference {
    uint32_t kind;               // VLTypeReferenceKind
    VLTypeDefinition* type;      // kind Type
    VLString categoryName;       // kind Category: the identifier as written
    const char* categoryNameLast;
    VLLocation selector;         // kind Category: slot holding the key
    VLToken* first;              // kind Category: the category name's token
    VLToken* end;                // kind Category: the token after "]"
};

struct VLMember {
    VLMember* next;
    VLString name;
    uint32_t appearIndex;
    uint32_t isNested;
    VLTypeReference typeReference;
    VLInstruction* instruction;  // its scalar-member or push-frame instruction
};

struct VLInstructionRef {
    VLInstructionRef* next;
    VLInstruction* instruction;
};

struct VLTypeDefinition {
    VLTypeDefinition* next;          // next in the same hash bucket
    VLLocalVariable* locals;         // newest first
    VLMember* members;               // newest first
    VLString name;
    uint32_t memberCount;
    uint32_t index;
    VLInstruction* startInstruction;
    uint32_t parameterCount;
    VLString parameters[VLMaxParameters];
    // Load-constants of this type's member count emitted while its own body was
    // still open; they are patched with the final count when the body closes.
    VLInstructionRef* pendingMemberCounts;
};

enum { VLTypeChunkCapacity = 64 };

struct VLTypeChunk {
    VLTypeChunk* next;
    uint32_t count;
    VLTypeDefinition items[VLTypeChunkCapacity];
};

struct VLTypeList {
    uint32_t totalCount;
    VLTypeChunk* first;
    VLTypeChunk* last;
};

VLTypeDefinition* VLTypeAt(const VLTypeList* list, uint32_t index);  // null when out of range

struct VLCategoryItem {
    VLCategoryItem* next;
    VLTypeDefinition* type;
    int64_t key;
};

struct VLCategory {
    VLCategory* next;
    uint32_t index;
    VLString name;
    uint32_t parameterCount;
    VLCategoryItem* items;  // newest first
};

struct VLCategoryEntry {
    uint32_t categoryIndex;
    int64_t key;
    VLTypeDefinition* type;
};

struct VLPrimitiveSpec {
    uint32_t type;    // VLInstructionType_ScalarMemberU, S or F
    uint32_t flags;   // VLMemberFlags
    uint32_t hidden;
    VLToken* sizeFirst;
    VLToken* sizeEnd;
    VLToken* byteOrderOpen;  // the "(" of endian(expression), compiled at each member; null: none
};

struct VLTypedef {
    VLTypedef* next;
    VLString name;
    VLPrimitiveSpec spec;
    VLLocation size;  // global slot holding the size
};

struct VLEnumValue {
    VLEnumValue* next;
    VLString name;
    int64_t value;
};

struct VLEnum {
    VLEnum* next;
    uint32_t anonymous;
    VLString name;
    VLEnumValue* values;  // declaration order
};

// ---------------------------------------------------------------------------
// The compiled program
// ---------------------------------------------------------------------------
// What the compiler knew at an error beyond its message, for the front end
// to explain it. The message itself never depends on these.
enum VLErrorDetail : uint32_t {
    VLErrorDetail_None = 0,
    VLErrorDetail_UnknownType = 1,       // subject: an identifier where a type was expected
    VLErrorDetail_UnknownName = 2,       // subject: an identifier in an expression that names nothing
    VLErrorDetail_AssignToMember = 3,    // subject: a member of the struct, followed by an assignment
    VLErrorDetail_AssignToUnknown = 4,   // subject: a name that is nothing yet, followed by an assignment
    VLErrorDetail_UnknownCategory = 5,   // subject: the category name
    VLErrorDetail_ExpectedWord = 6,      // subject: the token found where one of some words was expected
    VLErrorDetail_AssignToParameter = 7, // subject: a parameter of the struct, followed by an assignment
    VLErrorDetail_UnknownEnumValue = 8,  // subject: the value's name after "Enum."; enumeration
    VLErrorDetail_ArgumentCount = 9,     // subject: the type's name; namedType (null for a category)
    VLErrorDetail_MissingOperand = 10,   // subject: the operator after which an operand is missing
};

struct VLError {
    VLToken* token;       // null: at the end of the token list
    uint64_t length;
    const char* message;  // null: no error
    uint32_t detail;      // VLErrorDetail
    VLToken* subject;     // the token the detail is about
    // Facts looked up once the error is the compilation's (VLCompile):
    VLString candidate;       // the nearest known name or word (case-insensitive edit distance); empty if none is close
    VLToken* definedLater;    // UnknownType, UnknownCategory: the name in a definition further down
    VLString otherStruct;     // UnknownName: a struct with a member, local or parameter of that name
    VLToken* openBracket;     // the innermost bracket before the error that nothing in the text closes
    const VLTypeDefinition* structType;  // the struct being compiled at the error, or null
    const VLEnum* enumeration;           // UnknownEnumValue: the enumeration named
    const VLTypeDefinition* namedType;   // ArgumentCount: the type instantiated
    VLToken* loopLocal;       // UnknownName: a for loop's local of that name before the error (ended with its loop)
};
inline bool VLErrorIsValid(const VLError* error) { return error->message != nullptr; }

struct VLProgram {
    uint32_t categoryEntryCount;
    VLCategoryEntry* categoryEntries;
    VLInstructionList instructions;
    uint32_t typeCount;
    VLTypeList types;
    VLTypeDefinition* typeBuckets[256];
    VLEnum* enums;        // newest first
    VLTypedef* typedefs;  // newest first
    VLError error;
    VLArena* arena;       // owns every record of the program
};

// Include files. The core opens no files: an include statement asks the
// loader for the tokens of the file it names, and the front end finds, reads
// and tokenizes it.
struct VLIncludedFile {
    uint32_t file;        // its number, carried by its tokens; one file, one number (0: the layout itself)
    VLToken* tokens;      // its tokens; null when it has none
    const char* name;     // the file as messages name it
    const char* message;  // null when loaded; otherwise the compile error reported at the path
};
struct VLIncludeLoader {
    // `path` is the text between the quotes as written; `includingFile` the
    // number of the file whose statement names it. The texts returned must
    // live as long as the compiled program.
    VLIncludedFile (*load)(void* context, uint32_t includingFile, VLString path);
    void* context;
    const char* layoutName;  // file 0 in messages
};

// Compiles a token list. Every record of the program comes from the arena.
// Without a loader an include statement is a compile error.
VLProgram VLCompile(VLToken* firstToken, VLArena* arena, const VLIncludeLoader* loader = nullptr);

// Edit distance between two names, letters compared without regard to case;
// swapping two neighbouring characters counts as one edit.
uint32_t VLNameDistance(VLString a, VLString b);
// Whether `candidate` is close enough to `name` to be suggested for it.
bool VLNameIsClose(VLString name, VLString candidate);

uint32_t VLHashName(uint32_t length, const char* chars);

// ---------------------------------------------------------------------------
// Runtime
// ---------------------------------------------------------------------------
struct VLRuntimeFrame {
    VLRuntimeFrame* parent;
    int64_t slots[VLFrameSlotCount];
};

enum VLRuntimeMemberFlag : uint32_t {
    VLRuntimeMemberFlag_IsNested = 1,
    VLRuntimeMemberFlag_IsSet = 2,
};

struct VLRuntimeMember;

struct VLRuntimeMemberArray {
    uint32_t arrayCount;         // number of elements; 0 = not read yet
    uint32_t capacity;           // element records allocated so far (grows as elements are reached)
    VLRuntimeMember* elements;
};

struct VLRuntimeMember {
    VLRuntimeMember* parent;  // struct instances: the enclosing instance
    uint32_t flags;           // VLRuntimeMemberFlag
    union {
        struct {
            uint32_t memberCount;
            VLRuntimeMemberArray* members;
        } nestedType;
        uint64_t value;
    };
};

enum VLRuntimeResultFlag : uint32_t {
    VLRuntimeResultFlag_AssertionFailed = 0x01,
    VLRuntimeResultFlag_InvalidAddress = 0x02,
    VLRuntimeResultFlag_InvalidSize = 0x04,
    VLRuntimeResultFlag_IndexOutOfRange = 0x08,
    VLRuntimeResultFlag_InvalidArrayCount = 0x10,
    VLRuntimeResultFlag_UnknownType = 0x20,       // no type registered under (category, key)
    VLRuntimeResultFlag_NestingTooDeep = 0x40,    // more struct levels than arrayIndices holds
    VLRuntimeResultFlag_ElementOutOfRange = 0x80, // element number not below the array's count
    VLRuntimeResultFlag_MemoryLimit = 0x100,      // member records would exceed the run's memoryLimit
    VLRuntimeResultFlag_NoFinalByte = 0x200,      // a variable-length integer ends past its bound (size: the bound, address: its own)
    VLRuntimeResultFlag_ValueTooLarge = 0x400,    // a variable-length integer needs more than 64 bits
};

struct VLRuntimeResult {
    VLInstruction* instruction;  // null when the program had already ended
    uint32_t flags;
    int64_t address;   // InvalidAddress: the rejected address
    int64_t size;      // InvalidSize: the rejected size
    int64_t count;     // InvalidArrayCount: the rejected count; UnknownType: the key
    int64_t element;   // IndexOutOfRange, ElementOutOfRange: the element number
    uint32_t elementCount;  // IndexOutOfRange, ElementOutOfRange: elements that exist
    uint32_t pathStep;      // IndexOutOfRange: the failing step (from 0)
};

struct VLRuntimeView;

struct VLRuntime {
    uint32_t stackCount;
    VLRuntimeFrame* frames;
    VLRuntimeFrame* freeFrames;
    const VLTypeList* types;
    uint32_t categoryEntryCount;
    const VLCategoryEntry* categoryEntries;
    const VLInstructionList* instructions;
    VLInstructionPosition position;
    uint32_t arrayIndices[VLMaxNesting];
    int32_t membersHidden;
    VLRuntimeMember* currentMember;
    uint64_t dataSize;
    const uint8_t* data;
    int64_t scratch;   // the cell that kind-None locations denote
    VLArena* arena;    // frames and member records of this run
    VLRuntimeFrame* globalFrame;  // the outermost frame (never popped), for Global depth 0
    // The runtime's own view of the instruction list (core/Runtime.cpp): the
    // chunks by number, so that jumps need no walk, and the chunks that run
    // often decoded into a compact form.
    VLRuntimeView* view;
    // Instance records that no member path can reach (the root, sizeof
    // instances, struct members no path names), one reusable record per
    // frame level, with the member arrays allocated for each.
    VLRuntimeMember* instancePool;
    uint32_t instancePoolCapacity[VLMaxNesting];
    // Bytes the run's arena may hold before member records are refused
    // (VLRuntimeInit sets VLRuntimeMemoryLimit; tests may lower it).
    uint64_t memoryLimit;
};

// Memory one run may use for its member tree: elements kept for member paths
// that read no data (or read the same bytes over and over) would otherwise grow
// without end.
enum : uint64_t { VLRuntimeMemoryLimit = uint64_t(1) << 30 };

// A fresh runtime over a compiled program and the data; records come from the arena.
void VLRuntimeInit(VLRuntime* runtime, const VLProgram* program, const uint8_t* data,
                   uint64_t dataSize, VLArena* arena);
bool VLRuntimeHasEnded(const VLRuntime* runtime);
VLRuntimeResult VLRuntimeStep(VLRuntime* runtime);
// The kinds of instruction VLRuntimeRun stops after (VLRuntimeShow, with the instruction set).
// Steps until an instruction of a kind in `show` has run while members are
// shown, a step sets flags, the program ends or `*stepsLeft` steps have run
// (each step takes one). Returns the result of that last step; instruction
// null at the end or when no step was left.
// With a visitor, a step it would stop after without flags is handed to the
// visitor instead (the runtime standing after that step); the run goes on
// while the visitor returns true. A visitor reads the runtime and must not step it.
using VLRuntimeVisitor = bool (*)(void* context, VLRuntime* runtime, const VLRuntimeResult* result);
VLRuntimeResult VLRuntimeRun(VLRuntime* runtime, uint64_t* stepsLeft, uint32_t show = VLRuntimeShow_All,
                             VLRuntimeVisitor visitor = nullptr, void* context = nullptr);
int64_t* VLResolveLocation(VLRuntime* runtime, VLLocation location);
// A member's flags as it reads right now: endian(expression) decides the
// byte order from its slot (the front end asks right after the member's step).
uint32_t VLMemberFlagsNow(VLRuntime* runtime, const VLInstruction* member);
