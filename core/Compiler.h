// Compiler.h - what the pieces of the layout compiler share.
//
// The compile context, the speculative-parse state, scopes, expression records,
// and the operations one compiler file offers the others: token primitives and
// error recording (Parser.cpp), emitting (Instructions.cpp), expressions
// (Expressions.cpp), types and categories (Types.cpp), member declarations
// (Members.cpp), enumerations (Enums.cpp) and quoted literals (Literals.cpp).
// Not part of the public interface.
#pragma once

#include <initializer_list>

#include "Vellum.h"

// ---------------------------------------------------------------------------
// Context
// ---------------------------------------------------------------------------
enum VL_ScopeType : uint32_t {
    VL_ScopeType_None = 0,
    VL_ScopeType_Struct = 1,
    VL_ScopeType_If = 2,
    VL_ScopeType_ElseIf = 3,
    VL_ScopeType_Else = 4,
    VL_ScopeType_For = 5,
    VL_ScopeType_While = 6,
    VL_ScopeType_Do = 7,
};

struct VLScope {
    uint32_t type;  // VL_ScopeType
    VLScope* next;  // the enclosing scope
    VLInstruction* conditionalGoto;  // If, ElseIf, For, While
    VLInstruction* exitGoto;         // If, ElseIf
    uint32_t savedSlotCount;         // For
    uint32_t loopStart;              // For, While, Do
    VLToken* increment;              // For: first token of the increment clause, or null
    VLLocalVariable* savedLocals;    // For: the body's locals before the loop (restored at its end)
};

// An error message kept as its parts while the attempt that recorded it may
// still be backed out: most attempts fail and are never reported, so only the
// error that becomes the compilation's error gets its text written
// (VLWriteErrorText). Until then the speculative error's `message` holds the
// format (or the list's prefix) and its `length` is 0.
enum VLMessageForm : uint32_t {
    VLMessageForm_Text = 0,         // the error's message is the final text
    VLMessageForm_Format = 1,       // printf-style format and its arguments
    VLMessageForm_Keywords = 2,     // "Expected identifier " and the words
    VLMessageForm_Punctuation = 3,  // "Expected punctuation " and the codes
};
enum { VLMaxMessageItems = 12, VLMaxMessageArguments = 4 };

struct VLMessageArgument {
    int64_t number;    // %u, %d, %c; for %.*s the precision
    const char* text;  // %s, %.*s
};

struct VLMessageParts {
    uint32_t form;   // VLMessageForm
    uint32_t count;  // words, codes or arguments
    const char* format;
    union {
        const char* words[VLMaxMessageItems];
        uint32_t codes[VLMaxMessageItems];
        VLMessageArgument arguments[VLMaxMessageArguments];
    };
};

struct VLExpression;
struct VLExpressionTerm;
struct VLUnaryOperatorEntry;

// A hash index from (owner, name) to a record, for the lists a large layout
// makes long: the members of one struct, the categories, the named
// enumerations, the values of one enumeration. Open addressing; the table
// is replaced by one twice its size (from the arena) when half full.
struct VLNameEntry {
    const void* owner;
    VLString name;
    void* record;  // null: the entry is free
};

struct VLNameIndex {
    VLNameEntry* entries;
    uint32_t capacity;  // 0 or a power of two
    uint32_t count;
};

struct VLSpeculativeParse {
    VLToken* firstToken;
    VLEnum* savedEnums;
    int32_t matched;
    uint32_t tokenCount;
    VLError error;
    uint32_t bestTokenCount;
    VLError bestError;
    // Set while the statement's last attempt runs: an error it records before
    // consuming a token may become the reported one, so it is always formatted.
    uint32_t finalAttempt;
    VLMessageParts errorParts;      // how to write out error's message
    VLMessageParts bestErrorParts;  // the same for bestError
};

// A file being compiled through an include statement; the records of files
// included by included files are chained innermost first.
struct VLIncludeFrame {
    VLIncludeFrame* next;  // the including file's record; null when the layout includes it
    uint32_t file;
    const char* name;
    VLToken* resume;       // the token after the include statement
    VLToken* last;         // the file's last token (errors at its end stand there)
    uint32_t savedBigEndian;  // the including file's defaults, back in force after this file
    uint32_t savedZeroCountsEmpty;
};

// What a compilation knows of a file number.
enum VLFileState : uint8_t {
    VLFileState_Unseen = 0,
    VLFileState_Open = 1,      // being compiled: an include of it is a cycle
    VLFileState_Compiled = 2,  // compiled to its end: an include of it does nothing
};

struct VLContext {
    VLToken* token;  // next token to consume; null at the end of the current file
    VLProgram output;
    VLTypeDefinition* typeDefinitionBeingParsed;
    uint32_t defaultBigEndian;
    uint32_t zeroCountsEmpty;  // default(zero_counts = empty) is in force
    uint32_t categoryEntryCount;
    VLCategory* categories;  // creation order
    uint32_t stackIndex;
    uint32_t stacks[2];
    VLSpeculativeParse speculativeParse;
    VLScope* scopes;      // innermost first
    VLScope* freeScopes;
    // Records of finished expressions, reused by the next ones (VLReleaseExpression).
    VLExpression* freeExpressions;
    VLExpressionTerm* freeTerms;
    VLUnaryOperatorEntry* freeUnaryOperators;
    // Name lookups (VLNameIndex). Members are indexed once their struct has
    // many; named enumerations follow output.enums, also when an attempt puts
    // it back.
    VLNameIndex memberIndex;      // (type, name): the newest member of that name
    VLNameIndex categoryIndex;    // (null, name): the category
    VLNameIndex enumIndex;        // (null, name): the newest named enumeration
    VLNameIndex enumValueIndex;   // (enumeration, name): its first value of that name
    VLNameIndex plainValueIndex;  // (null, name): the newest anonymous enumeration with that value
    VLEnum* enumBeingDeclared;    // its values are being parsed
    uint32_t categoryCount;
    VLCategory* lastCategory;     // the tail of categories
    VLArena* arena;
    // Slot numbering. In the first compilation the level-0 counter grows across
    // the whole file. If a slot number of 64 or more is handed out there,
    // slotOverflow is set and the file is compiled again with slotsPerBody set:
    // the counter then starts afresh at each struct body, and a slot number of
    // 64 or more is a compile error.
    uint32_t slotsPerBody;
    uint32_t slotOverflow;
    uint32_t savedTopLevelSlots;  // slotsPerBody: the level-0 counter outside the open body
    // Include statements: the loader (null: none available), the files being
    // compiled through one, innermost first, and the state of each file
    // number (VLFileState), grown as numbers appear.
    const VLIncludeLoader* includeLoader;
    VLIncludeFrame* includeFrames;
    uint8_t* fileStates;
    uint32_t fileStateCount;
    // For the facts about an error (ErrorFacts.cpp): the layout's first token,
    // the record the last error went to (null when it was dropped), the last
    // identifier an expression consumed without finding what it names, and
    // the last operator it consumed.
    VLToken* firstToken;
    VLError* lastStoredError;
    VLToken* unresolvedName;
    VLToken* lastOperator;  // the last operator an expression consumed
};

// ---------------------------------------------------------------------------
// Token primitives and error recording (Parser.cpp). Each does nothing and
// returns its negative value once VLIsStopped is true.
// ---------------------------------------------------------------------------
bool VLIsStopped(const VLContext* ctx);
void VLConsume(VLContext* ctx);  // token = token->next, tokenCount + 1
uint32_t VLExpectKeyword(VLContext* ctx, std::initializer_list<const char*> words);  // 1-based index or 0
uint32_t VLExpectPunctuation(VLContext* ctx, std::initializer_list<uint32_t> codes);  // the code or 0
uint32_t VLAcceptPunctuation(VLContext* ctx, uint32_t code);
VLString VLExpectIdentifier(VLContext* ctx);  // length 0 when absent
VLString VLAcceptIdentifier(VLContext* ctx);
int VLAcceptWord(VLContext* ctx, const char* word);
bool VLIsPunctuation(const VLToken* token, uint32_t code);
bool VLTokenIs(const VLToken* token, const char* word);  // token text equals word
// Errors: token null means the current token (itself null at the end of the list).
// VLReportError keeps the format and its arguments and formats them only if the
// error is reported, so a %s or %.*s text must live as long as the compilation
// (token texts, arena copies), and the format may use only %s, %.*s, %u, %d, %c, %%.
void VLReportError(VLContext* ctx, VLToken* token, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
void VLRecordError(VLContext* ctx, VLToken* token, const char* message);
// Sets the detail (VLErrorDetail) of the error just recorded, when it was kept;
// the record stays reachable (ctx->lastStoredError) for the detail's own fields.
void VLNoteErrorDetail(VLContext* ctx, uint32_t detail, VLToken* subject);
// Writes out an error kept as parts (into a new arena text); a Text error is left as it is.
void VLWriteErrorText(VLContext* ctx, VLError* error, const VLMessageParts* parts);
void VLBeginAttempt(VLContext* ctx);
void VLEndAttempt(VLContext* ctx);

// Slots. VLNewSlot hands out Local depth 0, number stacks[stackIndex] + 2.
VLLocation VLNewSlot(VLContext* ctx);
uint32_t VLSlotCounter(const VLContext* ctx);             // stacks[stackIndex]
void VLSetSlotCounter(VLContext* ctx, uint32_t counter);  // stacks[stackIndex] = counter
VLLocation VLLocal(uint32_t depth, uint32_t index);
VLLocation VLGlobal(uint32_t depth, uint32_t index);
VLLocation VLCursorLocation();  // g(1), the current data address

VLString VLCopyString(VLContext* ctx, VLString text);  // arena copy

// ---------------------------------------------------------------------------
// Emitting (Instructions.cpp). The only code that appends to the list.
// ---------------------------------------------------------------------------
VLInstruction* VLAppendInstruction(VLContext* ctx, const VLInstruction* instruction);
VLInstruction* VLEmit(VLContext* ctx, int32_t type);
VLInstruction* VLEmitGoto(VLContext* ctx, uint32_t target);
VLInstruction* VLEmitConditionalGoto(VLContext* ctx, VLLocation condition, uint32_t target);
VLInstruction* VLEmitLoadConstant(VLContext* ctx, VLLocation destination, uint64_t value);
VLInstruction* VLEmitUnary(VLContext* ctx, int32_t type, VLLocation destination, VLLocation operand);
VLInstruction* VLEmitBinary(VLContext* ctx, int32_t type, VLLocation destination, VLLocation left,
                            VLLocation right);
// The number a jump must name so that execution continues with the next
// instruction appended: jumps continue after their target, so this is the
// number of the last instruction appended (totalCount - 1).
uint32_t VLContinueAfterLast(const VLContext* ctx);

// ---------------------------------------------------------------------------
// Expressions (Expressions.cpp)
// ---------------------------------------------------------------------------
enum VL_OperatorValueType : uint32_t {
    VL_OperatorValueType_None = 0,
    VL_OperatorValueType_Symbol = 1,
    VL_OperatorValueType_Constant = 2,
};

struct VLOperatorValue {
    uint32_t type;  // VL_OperatorValueType
    union {
        int64_t constant;
        VLLocation location;
    };
};

struct VLUnaryOperatorEntry {
    VLUnaryOperatorEntry* next;
    uint32_t op;
    uint32_t precedence;
};

struct VLExpressionTerm {
    VLExpressionTerm* next;
    VLExpressionTerm* prev;
    VLUnaryOperatorEntry* unaryOperators;  // head: the operator nearest the operand
    struct {
        uint32_t op;
        uint32_t precedence;
    } binaryOperator;
    VLOperatorValue value;
};

struct VLExpression {
    VLExpressionTerm termsSentinel;
    uint32_t nesting;  // 11 per open parenthesis
    // The attempt had already failed when the expression began: evaluating it
    // then records nothing (the earlier error stands).
    uint32_t stoppedAtStart;
    VLExpression* next;  // the next released expression, while on the free list
};

// Status starts at 0; 1 after a division or modulo by zero (result 0).
int64_t VLFoldBinary(uint32_t* status, int64_t left, uint32_t op, int64_t right);
VLOperatorValue VLApplyBinaryOperator(VLContext* ctx, VLOperatorValue left, uint32_t op,
                                      VLOperatorValue right);
VLExpression* VLStartExpression(VLContext* ctx);
// Hands a finished expression's records back for reuse; it must not be used afterwards.
void VLReleaseExpression(VLContext* ctx, VLExpression* expression);
void VLParseExpressionTerms(VLContext* ctx, VLExpression* expression);
bool VLPushOperator(VLContext* ctx, VLExpression* expression, uint32_t op);
VLOperatorValue VLReduceExpression(VLContext* ctx, VLExpression* expression);
void VLEvaluateInto(VLContext* ctx, VLExpression* expression, VLLocation destination);
VLLocation VLCompileExpressionInto(VLContext* ctx, VLLocation destination);
int64_t VLParseConstantExpression(VLContext* ctx);
bool VLParseOperand(VLContext* ctx, VLLocation* location);
bool VLParseConstant(VLContext* ctx, int64_t* value);

// ---------------------------------------------------------------------------
// Name indexes (Types.cpp)
// ---------------------------------------------------------------------------
void* VLNameIndexFind(const VLNameIndex* index, const void* owner, VLString name);  // null when absent
// Records `record` under (owner, name); an existing entry is replaced only when `replace` is set.
void VLNameIndexPut(VLContext* ctx, VLNameIndex* index, const void* owner, VLString name, void* record,
                    bool replace);
void VLNameIndexClear(VLNameIndex* index);

// ---------------------------------------------------------------------------
// Types and categories (Types.cpp)
// ---------------------------------------------------------------------------
struct VLTypeInstance {
    VLInstruction* pushFrame;  // null when the reference did not resolve
    VLTypeReference reference;
};

VLTypeDefinition* VLParseStructHeader(VLContext* ctx);
VLTypeDefinition* VLFindType(const VLContext* ctx, VLString name);
VLTypeReference VLParseTypeReference(VLContext* ctx);
VLCategory* VLFindCategory(VLContext* ctx, VLString name, VLToken* subject);  // reports when absent
VLTypeInstance VLParseTypeInstance(VLContext* ctx);
VLInstruction* VLEmitPushFrame(VLContext* ctx, const VLTypeReference* reference);
void VLEmitTypeCall(VLContext* ctx, const VLTypeReference* reference);
VLLocalVariable* VLFindLocalVariable(VLLocalVariable* list, VLString name);
// Links a new member (its name set) at the head of its struct's members, with the next appearance number.
void VLAddMember(VLContext* ctx, VLTypeDefinition* type, VLMember* member);
VLMember* VLFindMember(const VLContext* ctx, const VLTypeDefinition* type, VLString name);  // the newest
void VLCloseStructBody(VLContext* ctx, VLTypeDefinition* type);  // patches pending member counts
void VLBuildCategoryTable(VLContext* ctx);

// ---------------------------------------------------------------------------
// Member declarations and typedefs (Members.cpp)
// ---------------------------------------------------------------------------
struct VLPlacement {
    uint32_t external;
    VLToken* first;          // placement range, null without a placement
    VLToken* last;
    VLLocation savedCursor;  // external: slot holding the cursor before the placement
};

void VLParseMemberDeclaration(VLContext* ctx);
// The show statement is a candidate only when `show` names nothing of the
// layout's own and a name or "(" follows it.
bool VLShowMayFollow(const VLContext* ctx);
void VLParseShowMember(VLContext* ctx);
VLPlacement VLParsePlacement(VLContext* ctx, bool allowSavedCursor);
VLPrimitiveSpec VLParsePrimitiveSpec(VLContext* ctx, VLLocation size);
// zstring, uleb, sleb or vlq followed by "(": a type part whose size the data decides.
bool VLMeasuredMayFollow(const VLContext* ctx);
VLPrimitiveSpec VLParseMeasuredSpec(VLContext* ctx, VLLocation size);
VLInstruction* VLEmitPrimitiveMember(VLContext* ctx, const VLPlacement* placement, VLLocation size,
                                     uint32_t savedSlotCount, const VLPrimitiveSpec* spec,
                                     VLString name, VLEnum* enumeration);
VLTypedef* VLFindTypedef(const VLContext* ctx, VLString name);

// ---------------------------------------------------------------------------
// Enumerations (Enums.cpp)
// ---------------------------------------------------------------------------
void VLParseEnum(VLContext* ctx);
bool VLParseEnumValue(VLContext* ctx, int64_t* value);
VLEnum* VLFindEnum(const VLContext* ctx, VLString name);
void VLReindexEnums(VLContext* ctx);  // after output.enums was put back

// ---------------------------------------------------------------------------
// Facts about the compilation's error (ErrorFacts.cpp)
// ---------------------------------------------------------------------------
// A keyword list that becomes the reported message: the word nearest the token found.
void VLNoteExpectedWords(VLError* error, const VLMessageParts* parts);
// Looks up, once, what the front end may say about the compilation's error:
// nearest names, later definitions, other structs' members, an unclosed bracket.
void VLFindErrorFacts(VLContext* ctx);

// ---------------------------------------------------------------------------
// Quoted literals as integers (Literals.cpp)
// ---------------------------------------------------------------------------
struct VLStringIntegerResult {
    uint32_t valid;
    uint64_t value;
};
VLStringIntegerResult VLStringToInteger(VLContext* ctx, const VLToken* token);
bool VLAcceptConstant(VLContext* ctx, int64_t* value);
