// Members.cpp - member declarations inside a struct body: placements
// (`@(...)`, `@(external ...)`), the hidden prefix, primitive types with their
// modifiers and the member-flags word (endian(expression) among them), the
// members whose size the data decides (zstring, uleb, sleb, vlq),
// enumeration-, typedef- and struct-typed members, arrays, whose element loop
// re-runs the member once per element (skipped for a zero count under
// default(zero_counts = empty)), and the show statement's computed members.
// Also the typedef records' lookup; the typedef statement itself belongs to
// the statement loop and calls VLParsePrimitiveSpec.
#include "Compiler.h"

// What the first token of a member's type part makes of the member.
enum VLMemberClass : uint32_t {
    VLMemberClass_Struct = 0,
    VLMemberClass_Enumeration = 1,
    VLMemberClass_Typedef = 2,
    VLMemberClass_Primitive = 3,
    VLMemberClass_Measured = 4,  // zstring, uleb, sleb, vlq
};

// The words of the members whose size the data decides, in the order of their kinds.
static const char* const VLMeasuredWords[] = {"zstring", "uleb", "sleb", "vlq"};
static_assert(VLInstructionType_ULebMember == VLInstructionType_ZStringMember + 1 &&
                  VLInstructionType_VlqMember == VLInstructionType_ZStringMember + 3,
              "measured member kinds in the order of their words");

// An array declaration: the `]` that ends it (followed by `;`) and its `[`.
struct VLArrayBrackets {
    VLToken* open;  // null: the member is no array
    VLToken* close;
};

static bool VLIsPunctuationToken(const VLToken* token, const char* text) {
    return token && token->type == VLTokenType_Punctuation && token->punctuation.code == VLCode(text);
}

VLTypedef* VLFindTypedef(const VLContext* ctx, VLString name) {
    for (VLTypedef* entry = ctx->output.typedefs; entry; entry = entry->next) {
        if (VLStringEquals(entry->name, name)) return entry;
    }
    return nullptr;
}

// ---------------------------------------------------------------------------
// Placement and primitive types
// ---------------------------------------------------------------------------

// Parses an optional placement and emits the code that moves the cursor
// there. With allowSavedCursor, `external` first saves the cursor in a new
// slot (which stays taken) so the caller can put it back after the member.
// [ "@" "(" [ "external" ] expression ")" ]
VLPlacement VLParsePlacement(VLContext* ctx, bool allowSavedCursor) {
    VLPlacement placement{};
    if (!VLAcceptPunctuation(ctx, VLCode("@"))) return placement;
    VLExpectPunctuation(ctx, {VLCode("(")});
    if (allowSavedCursor && VLAcceptWord(ctx, "external")) {
        placement.external = 1;
        placement.savedCursor = VLNewSlot(ctx);
        VLEmitUnary(ctx, VLInstructionType_Copy, placement.savedCursor, VLCursorLocation());
    }
    uint32_t counter = VLSlotCounter(ctx);
    placement.first = ctx->token;
    VLCompileExpressionInto(ctx, VLCursorLocation());
    placement.last = ctx->token;
    VLExpectPunctuation(ctx, {VLCode(")")});
    VLSetSlotCounter(ctx, counter);
    return placement;
}

// Applies one modifier word (1 binary, 2 octal, 3 hex, 4 little, 5 big) to
// the flags; each of the two groups may be given once per list.
static void VLApplyModifier(VLContext* ctx, uint32_t modifier, uint32_t* flags, bool* displayGiven,
                            bool* byteOrderGiven) {
    if (modifier >= 1 && modifier <= 3) {
        if (*displayGiven) {
            VLRecordError(ctx, nullptr, "Display type specified multiple times.");
            return;
        }
        *displayGiven = true;
        *flags |= modifier;  // binary 1, octal 2, hex 3
    } else if (modifier == 4 || modifier == 5) {
        if (*byteOrderGiven) {
            VLRecordError(ctx, nullptr, "Byte order specified multiple times.");
            return;
        }
        *byteOrderGiven = true;
        if (modifier == 5) *flags |= VLMemberFlag_BigEndian;
        else *flags &= ~uint32_t(VLMemberFlag_BigEndian);
    }
}

// `endian` "(" expression ")" in a modifier list: the parentheses are only
// skipped here (the expression is compiled at each member, where it is read).
// Any other word leaves the list to the fixed words and their messages.
static bool VLAcceptByteOrderExpression(VLContext* ctx, VLToken** open, bool* byteOrderGiven) {
    const VLToken* token = ctx->token;
    if (VLIsStopped(ctx) || !VLTokenIs(token, "endian") || !VLIsPunctuation(token->next, VLCode("("))) return false;
    VLToken* word = ctx->token;
    VLConsume(ctx);
    if (*byteOrderGiven) {
        VLRecordError(ctx, word, "Byte order specified multiple times.");
        return true;
    }
    *byteOrderGiven = true;
    VLToken* parenthesis = ctx->token;
    if (!parenthesis->punctuation.match) {
        VLRecordError(ctx, parenthesis, "Expected ) to close this (.");
        return true;
    }
    *open = parenthesis;
    while (ctx->token != parenthesis->punctuation.match) VLConsume(ctx);
    VLConsume(ctx);
    return true;
}

// Compiles the expression of endian(expression) from its tokens into a new
// slot; the tokens may lie elsewhere (a typedef), the parse goes on after
// the member as before.
static VLLocation VLCompileByteOrder(VLContext* ctx, VLToken* open) {
    VLToken* resume = ctx->token;
    ctx->token = open->next;
    VLLocation order = VLNewSlot(ctx);
    VLCompileExpressionInto(ctx, order);
    VLExpectPunctuation(ctx, {VLCode(")")});
    ctx->token = resume;
    return order;
}

// Parses a primitive type and compiles its size expression into `size`.
// `raw` shows its bytes in file order: without a display word it becomes hex
// and keeps a byte order only when the list names `big` itself (the default
// byte order is for numbers). `string` always has the flags word 4.
// ( "u" | "s" | "f" | "raw" | "string" | "hidden" ) "(" expression
//     { "," ( "binary" | "octal" | "hex" | "little" | "big" ) } ")"
VLPrimitiveSpec VLParsePrimitiveSpec(VLContext* ctx, VLLocation size) {
    enum { U = 1, S, F, Raw, String, Hidden };
    VLPrimitiveSpec spec{};
    spec.flags = ctx->defaultBigEndian ? uint32_t(VLMemberFlag_BigEndian) : 0;
    uint32_t keyword = VLExpectKeyword(ctx, {"u", "s", "f", "raw", "string", "hidden"});
    VLExpectPunctuation(ctx, {VLCode("(")});
    spec.sizeFirst = ctx->token;
    VLCompileExpressionInto(ctx, size);
    spec.sizeEnd = ctx->token;

    bool displayGiven = false;
    bool byteOrderGiven = false;
    while (!VLIsStopped(ctx) && VLAcceptPunctuation(ctx, VLCode(","))) {
        if (VLAcceptByteOrderExpression(ctx, &spec.byteOrderOpen, &byteOrderGiven)) continue;
        uint32_t modifier = VLExpectKeyword(ctx, {"binary", "octal", "hex", "little", "big"});
        VLApplyModifier(ctx, modifier, &spec.flags, &displayGiven, &byteOrderGiven);
    }

    switch (keyword) {
    case Raw:  // unsigned, shown as bytes
        if (!displayGiven) {
            bool explicitBig = byteOrderGiven && (spec.flags & VLMemberFlag_BigEndian);
            spec.flags = VLDisplayType_Hex | (explicitBig ? uint32_t(VLMemberFlag_BigEndian) : 0);
        }
        spec.flags |= VLMemberFlag_Raw;
        if (ctx->zeroCountsEmpty) spec.flags |= VLMemberFlag_MayBeEmpty;
        break;
    case String:  // unsigned text; modifiers have no effect
        spec.flags = VLDisplayType_String | (ctx->zeroCountsEmpty ? uint32_t(VLMemberFlag_MayBeEmpty) : 0);
        spec.byteOrderOpen = nullptr;
        break;
    case Hidden:  // unsigned, read but never shown
        spec.hidden = 1;
        break;
    default:  // u, s, f keep the flags
        break;
    }
    VLExpectPunctuation(ctx, {VLCode(")")});
    if (!VLIsStopped(ctx)) {
        spec.type = keyword == S   ? VLInstructionType_ScalarMemberS
                    : keyword == F ? VLInstructionType_ScalarMemberF
                                   : VLInstructionType_ScalarMemberU;
    }
    return spec;
}

// Records a primitive member of the open struct and emits its read: the
// scalar-member instruction (bracketed by hide/show for `hidden(...)`) and the
// cursor advance by its size. The slot counter goes back to savedSlotCount.
// Returns null, creating nothing, once an error is recorded.
VLInstruction* VLEmitPrimitiveMember(VLContext* ctx, const VLPlacement* placement, VLLocation size,
                                     uint32_t savedSlotCount, const VLPrimitiveSpec* spec,
                                     VLString name, VLEnum* enumeration) {
    if (VLIsStopped(ctx)) {
        VLSetSlotCounter(ctx, savedSlotCount);
        return nullptr;
    }
    VLTypeDefinition* owner = ctx->typeDefinitionBeingParsed;
    VL_ASSERT(owner != nullptr);
    VL_ASSERT(VLIsMemberKind(int32_t(spec->type)) && spec->type != VLInstructionType_ShowMember);
    VLLocation byteOrder = {};
    if (spec->byteOrderOpen) {
        byteOrder = VLCompileByteOrder(ctx, spec->byteOrderOpen);
        if (VLIsStopped(ctx)) {
            VLSetSlotCounter(ctx, savedSlotCount);
            return nullptr;
        }
    }
    VLMember* member = VLArenaNew<VLMember>(ctx->arena);
    member->name = VLCopyString(ctx, name);
    VLAddMember(ctx, owner, member);

    if (spec->hidden) VLEmit(ctx, VLInstructionType_HideMembers);
    VLInstruction* scalar = VLEmit(ctx, int32_t(spec->type));
    scalar->scalarExport.placementFirst = placement ? placement->first : nullptr;
    scalar->scalarExport.placementLast = placement ? placement->last : nullptr;
    scalar->scalarExport.sizeFirst = spec->sizeFirst;
    scalar->scalarExport.sizeEnd = spec->sizeEnd;
    scalar->scalarExport.name = member->name;
    scalar->scalarExport.appearIndex = member->appearIndex;
    scalar->scalarExport.address = VLCursorLocation();
    scalar->scalarExport.size = size;
    scalar->scalarExport.enumeration = enumeration;
    scalar->scalarExport.flags = spec->flags;
    if (spec->type != VLInstructionType_ScalarMemberU && spec->type != VLInstructionType_ScalarMemberS &&
        spec->type != VLInstructionType_ScalarMemberF)
        scalar->scalarExport.flags |= VLMemberFlag_Adjusted;
    if (byteOrder.kind != VLLocationKind_None || (spec->flags & VLMemberFlag_MayBeEmpty))
        scalar->scalarExport.flags |= VLMemberFlag_Adjusted;
    scalar->scalarExport.byteOrder = byteOrder;
    member->instruction = scalar;
    if (spec->hidden) VLEmit(ctx, VLInstructionType_ShowMembers);
    VLEmitBinary(ctx, VLInstructionType_Add, VLCursorLocation(), VLCursorLocation(), size);
    VLSetSlotCounter(ctx, savedSlotCount);
    return scalar;
}

// ---------------------------------------------------------------------------
// Member declarations
// ---------------------------------------------------------------------------

// A `hidden` followed by an identifier hides the whole declaration; `hidden(`
// is the primitive instead.
static bool VLAcceptHiddenPrefix(VLContext* ctx) {
    const VLToken* token = ctx->token;
    if (VLIsStopped(ctx) || !token || !token->next) return false;
    if (!VLTokenIs(token, "hidden") || token->next->type != VLTokenType_Identifier) return false;
    VLConsume(ctx);
    return true;
}

// Decides what the type part is, by its first token: an enumeration name, a
// typedef name, a primitive keyword, in that order, and otherwise a struct
// type instance (which reports whatever is wrong with it).
static VLMemberClass VLClassifyMember(const VLContext* ctx, VLEnum** enumeration, VLTypedef** entry) {
    const VLToken* token = ctx->token;
    if (!token || token->type != VLTokenType_Identifier) return VLMemberClass_Struct;
    VLString text = VLTokenText(token);
    if ((*enumeration = VLFindEnum(ctx, text))) return VLMemberClass_Enumeration;
    if ((*entry = VLFindTypedef(ctx, text))) return VLMemberClass_Typedef;
    for (const char* keyword : {"s", "u", "f", "raw", "string", "hidden"}) {
        if (VLStringEqualsText(text, keyword)) return VLMemberClass_Primitive;
    }
    // The newer words give way to the layout's own types and categories.
    if (VLMeasuredMayFollow(ctx) && !VLFindType(ctx, text) && !VLNameIndexFind(&ctx->categoryIndex, nullptr, text))
        return VLMemberClass_Measured;
    return VLMemberClass_Struct;
}

bool VLMeasuredMayFollow(const VLContext* ctx) {
    const VLToken* token = ctx->token;
    if (!token || !VLIsPunctuation(token->next, VLCode("("))) return false;
    for (const char* keyword : VLMeasuredWords) {
        if (VLTokenIs(token, keyword)) return true;
    }
    return false;
}

// The type part of a member whose size the data decides: the bound is
// compiled into `size`, which the member's instruction then sets to the bytes
// taken. The numbers take the display words; zstring takes none.
// ( "zstring" | "uleb" | "sleb" | "vlq" ) "(" expression { "," ( "binary" | "octal" | "hex" ) } ")"
VLPrimitiveSpec VLParseMeasuredSpec(VLContext* ctx, VLLocation size) {
    uint32_t word = VLExpectKeyword(ctx, {"zstring", "uleb", "sleb", "vlq"});
    VLExpectPunctuation(ctx, {VLCode("(")});
    VLPrimitiveSpec spec{};
    spec.type = VLInstructionType_ZStringMember + (word ? word - 1 : 0);
    spec.sizeFirst = ctx->token;
    VLCompileExpressionInto(ctx, size);
    spec.sizeEnd = ctx->token;
    if (spec.type == VLInstructionType_ZStringMember) {
        spec.flags = VLDisplayType_String | (ctx->zeroCountsEmpty ? uint32_t(VLMemberFlag_MayBeEmpty) : 0);
    } else {
        bool displayGiven = false;
        bool byteOrderGiven = true;  // a number of groups has no byte order to choose
        while (!VLIsStopped(ctx) && VLAcceptPunctuation(ctx, VLCode(","))) {
            uint32_t modifier = VLExpectKeyword(ctx, {"binary", "octal", "hex"});
            VLApplyModifier(ctx, modifier, &spec.flags, &displayGiven, &byteOrderGiven);
        }
    }
    VLExpectPunctuation(ctx, {VLCode(")")});
    return spec;
}

// A member whose size the data decides, then its name.
static VLInstruction* VLParseMeasuredMember(VLContext* ctx, const VLPlacement* placement) {
    VLLocation size = VLNewSlot(ctx);
    uint32_t afterSize = VLSlotCounter(ctx);
    VLPrimitiveSpec spec = VLParseMeasuredSpec(ctx, size);
    VLString name = VLExpectIdentifier(ctx);
    return VLEmitPrimitiveMember(ctx, placement, size, afterSize, &spec, name, nullptr);
}

// Looks for the `] ;` that makes the declaration an array. The walk ends at
// the declaration's first `;`, so it costs no more than the declaration. The
// `[` paired with that `]` must lie inside the declaration too.
static VLArrayBrackets VLFindArrayBrackets(const VLContext* ctx) {
    VLToken* start = ctx->token;
    for (VLToken* token = start; token && !VLIsPunctuationToken(token, ";"); token = token->next) {
        if (!VLIsPunctuationToken(token, "]") || !VLIsPunctuationToken(token->next, ";")) continue;
        VLToken* open = token->punctuation.match;
        if (!VLIsPunctuationToken(open, "[")) return VLArrayBrackets{};
        for (VLToken* seen = start; seen != token; seen = seen->next) {
            if (seen == open) return VLArrayBrackets{open, token};
        }
        return VLArrayBrackets{};
    }
    return VLArrayBrackets{};
}

// Compiles the element count between the brackets into a new slot (which
// stays taken) ahead of the member, then returns to where the type part starts.
// "[" expression "]"
static VLLocation VLCompileArrayCount(VLContext* ctx, VLArrayBrackets brackets) {
    VLToken* resume = ctx->token;
    ctx->token = brackets.open->next;
    VLLocation count = VLNewSlot(ctx);
    VLCompileExpressionInto(ctx, count);
    VLExpectPunctuation(ctx, {VLCode("]")});
    ctx->token = resume;
    return count;
}

// Closes an array member: its count location goes into the member
// instruction, and the element counter is advanced and tested; while it is
// below the count, execution jumps back to the element counter's load, which
// resumes at the set-array-index (jumps continue after their target).
static void VLCompleteArray(VLContext* ctx, VLArrayBrackets brackets, VLInstruction* member,
                            VLLocation counter, VLLocation count, VLInstruction* counterLoad) {
    if (VLIsStopped(ctx) || !member) return;
    if (ctx->token != brackets.open) {
        VLRecordError(ctx, nullptr, "Expected start of array declaration.");
        return;
    }
    if (member->type == VLInstructionType_PushFrame) member->pushFrame.arrayCount = count;
    else member->scalarExport.arrayCount = count;
    VLLocation one = VLNewSlot(ctx);
    VLEmitLoadConstant(ctx, one, 1);
    VLEmitBinary(ctx, VLInstructionType_Add, counter, counter, one);
    VLLocation more = VLNewSlot(ctx);
    VLEmitBinary(ctx, VLInstructionType_Less, more, counter, count);
    VLEmitConditionalGoto(ctx, more, counterLoad->index);
    ctx->token = brackets.close->next;
}

// EnumName "(" expression [ "," ( "little" | "big" ) ] ")" name
static VLInstruction* VLParseEnumerationMember(VLContext* ctx, const VLPlacement* placement,
                                               VLEnum* enumeration) {
    VLLocation size = VLNewSlot(ctx);
    uint32_t afterSize = VLSlotCounter(ctx);
    VLConsume(ctx);  // the enumeration's name
    VLExpectPunctuation(ctx, {VLCode("(")});
    VLPrimitiveSpec spec{};
    spec.type = VLInstructionType_ScalarMemberU;
    spec.sizeFirst = ctx->token;
    VLCompileExpressionInto(ctx, size);
    spec.sizeEnd = ctx->token;
    uint32_t order = 0;  // 1 little, 2 big
    bool orderGiven = false;
    if (VLAcceptPunctuation(ctx, VLCode(",")) && !VLAcceptByteOrderExpression(ctx, &spec.byteOrderOpen, &orderGiven))
        order = VLExpectKeyword(ctx, {"little", "big"});
    VLExpectPunctuation(ctx, {VLCode(")")});
    VLString name = VLExpectIdentifier(ctx);
    bool big = order == 2 || (order == 0 && ctx->defaultBigEndian);
    spec.flags = uint32_t(VLMemberFlag_Raw) | uint32_t(VLDisplayType_Hex) |
                 (big ? uint32_t(VLMemberFlag_BigEndian) : 0);
    return VLEmitPrimitiveMember(ctx, placement, size, afterSize, &spec, name, enumeration);
}

// TypeName | Category "[" expression "]", then [ "(" arguments ")" ] name
static VLInstruction* VLParseStructMember(VLContext* ctx) {
    VLTypeInstance instance = VLParseTypeInstance(ctx);
    if (!instance.pushFrame) return nullptr;
    VLTypeDefinition* owner = ctx->typeDefinitionBeingParsed;
    VL_ASSERT(owner != nullptr);
    VLMember* member = VLArenaNew<VLMember>(ctx->arena);
    member->isNested = 1;
    member->typeReference = instance.reference;
    VLToken* nameToken = ctx->token;
    member->name = VLCopyString(ctx, VLExpectIdentifier(ctx));
    VLAddMember(ctx, owner, member);
    instance.pushFrame->pushFrame.name = member->name;
    instance.pushFrame->pushFrame.memberIndex = member->appearIndex;
    instance.pushFrame->pushFrame.nameToken = nameToken;
    member->instruction = instance.pushFrame;
    return instance.pushFrame;
}

// Parses the type part and the member name and emits the member by its class.
// Returns the instruction that carries the array count (scalar member or
// push-frame), or null.
static VLInstruction* VLParseMemberBody(VLContext* ctx, VLMemberClass memberClass,
                                        const VLPlacement* placement, VLEnum* enumeration,
                                        VLTypedef* entry) {
    switch (memberClass) {
    case VLMemberClass_Primitive: {  // u(4, hex) name
        VLLocation size = VLNewSlot(ctx);
        uint32_t afterSize = VLSlotCounter(ctx);
        VLPrimitiveSpec spec = VLParsePrimitiveSpec(ctx, size);
        VLString name = VLExpectIdentifier(ctx);
        return VLEmitPrimitiveMember(ctx, placement, size, afterSize, &spec, name, nullptr);
    }
    case VLMemberClass_Enumeration:  // Color(1) name
        return VLParseEnumerationMember(ctx, placement, enumeration);
    case VLMemberClass_Measured:  // zstring(64) name, uleb(10, hex) name
        return VLParseMeasuredMember(ctx, placement);
    case VLMemberClass_Typedef: {  // Handle name: size from the typedef's global slot
        VLConsume(ctx);
        VLString name = VLExpectIdentifier(ctx);
        uint32_t counter = VLSlotCounter(ctx);
        VLLocation size = entry->size;
        if (entry->spec.type >= VLInstructionType_ZStringMember && entry->spec.type <= VLInstructionType_VlqMember &&
            !VLIsStopped(ctx)) {
            // The member replaces its size with the bytes taken: it gets a copy of the bound.
            size = VLNewSlot(ctx);
            VLEmitUnary(ctx, VLInstructionType_Copy, size, entry->size);
        }
        return VLEmitPrimitiveMember(ctx, placement, size, counter, &entry->spec, name, nullptr);
    }
    case VLMemberClass_Struct:  // Header name, Chunk(n) name, Packet[kind] name
        return VLParseStructMember(ctx);
    }
    return nullptr;
}

// Under default(zero_counts = empty): the jump that skips an array's element
// loop when its count is 0 (its target is patched after the loop).
static VLInstruction* VLEmitSkipWhenZero(VLContext* ctx, VLLocation count) {
    if (VLIsStopped(ctx)) return nullptr;
    VLLocation zero = VLNewSlot(ctx);
    VLEmitLoadConstant(ctx, zero, 0);
    VLLocation empty = VLNewSlot(ctx);
    VLEmitBinary(ctx, VLInstructionType_Equal, empty, count, zero);
    return VLEmitConditionalGoto(ctx, empty, 0);
}

// Parses one member declaration with its `;` and emits, in order: the
// placement, hide-members for the hidden prefix, the element counter and its
// set-array-index, the array count (compiled ahead of the member), the member,
// the element loop, the cursor restore of an external placement, show-members.
// [ "@" "(" [ "external" ] expression ")" ] [ "hidden" ] type-part name [ "[" expression "]" ] ";"
void VLParseMemberDeclaration(VLContext* ctx) {
    uint32_t savedCounter = VLSlotCounter(ctx);
    VLPlacement placement = VLParsePlacement(ctx, true);
    bool hiddenPrefix = VLAcceptHiddenPrefix(ctx);
    VLEnum* enumeration = nullptr;
    VLTypedef* entry = nullptr;
    VLMemberClass memberClass = VLClassifyMember(ctx, &enumeration, &entry);
    if (!VLIsStopped(ctx)) {
        if (hiddenPrefix) VLEmit(ctx, VLInstructionType_HideMembers);
        VLLocation counter = VLNewSlot(ctx);
        VLInstruction* counterLoad = VLEmitLoadConstant(ctx, counter, 0);
        VLEmit(ctx, VLInstructionType_SetArrayIndex)->arrayIndex.value = counter;
        VLArrayBrackets brackets = VLFindArrayBrackets(ctx);
        VLLocation count{};
        VLInstruction* skipEmpty = nullptr;
        if (brackets.open) {
            count = VLCompileArrayCount(ctx, brackets);
            if (ctx->zeroCountsEmpty) skipEmpty = VLEmitSkipWhenZero(ctx, count);
        }
        VLInstruction* member = VLParseMemberBody(ctx, memberClass, &placement, enumeration, entry);
        if (brackets.open) VLCompleteArray(ctx, brackets, member, counter, count, counterLoad);
        if (skipEmpty) skipEmpty->jump.targetIndex = VLContinueAfterLast(ctx);
        if (placement.external) {
            VLEmitUnary(ctx, VLInstructionType_Copy, VLCursorLocation(), placement.savedCursor);
        }
        if (hiddenPrefix) VLEmit(ctx, VLInstructionType_ShowMembers);
    }
    VLSetSlotCounter(ctx, savedCounter);
    VLExpectPunctuation(ctx, {VLCode(";")});
}

// ---------------------------------------------------------------------------
// Computed members
// ---------------------------------------------------------------------------

bool VLShowMayFollow(const VLContext* ctx) {
    const VLToken* token = ctx->token;
    if (!VLTokenIs(token, "show") || !token->next) return false;
    const VLToken* next = token->next;
    if (next->type != VLTokenType_Identifier && !VLIsPunctuation(next, VLCode("("))) return false;
    VLString word = VLTokenText(token);
    return !VLFindEnum(ctx, word) && !VLFindTypedef(ctx, word) && !VLFindType(ctx, word) &&
           !VLNameIndexFind(&ctx->categoryIndex, nullptr, word);
}

// A value computed from what was read, shown as a member line at the cursor
// with size 0; the cursor stays. Member paths reach it like any member.
// "show" [ "(" ( "binary" | "octal" | "hex" ) ")" ] name "=" expression ";"
void VLParseShowMember(VLContext* ctx) {
    uint32_t savedCounter = VLSlotCounter(ctx);
    VLExpectKeyword(ctx, {"show"});
    uint32_t display = VLDisplayType_Decimal;
    if (VLAcceptPunctuation(ctx, VLCode("("))) {
        display = VLExpectKeyword(ctx, {"binary", "octal", "hex"});
        VLExpectPunctuation(ctx, {VLCode(")")});
    }
    VLString name = VLExpectIdentifier(ctx);
    VLExpectPunctuation(ctx, {VLCode("=")});
    if (VLIsStopped(ctx)) return;
    VLLocation counter = VLNewSlot(ctx);
    VLEmitLoadConstant(ctx, counter, 0);
    VLEmit(ctx, VLInstructionType_SetArrayIndex)->arrayIndex.value = counter;
    VLLocation value = VLNewSlot(ctx);
    VLCompileExpressionInto(ctx, value);
    VLExpectPunctuation(ctx, {VLCode(";")});
    if (!VLIsStopped(ctx)) {
        VLTypeDefinition* owner = ctx->typeDefinitionBeingParsed;
        VLMember* member = VLArenaNew<VLMember>(ctx->arena);
        member->name = VLCopyString(ctx, name);
        VLAddMember(ctx, owner, member);
        VLInstruction* show = VLEmit(ctx, VLInstructionType_ShowMember);
        show->scalarExport.name = member->name;
        show->scalarExport.appearIndex = member->appearIndex;
        show->scalarExport.address = VLCursorLocation();
        show->scalarExport.value = value;
        show->scalarExport.flags = display | VLMemberFlag_Adjusted;
        member->instruction = show;
    }
    VLSetSlotCounter(ctx, savedCounter);
}
