// Members.cpp - member declarations inside a struct body: placements
// (`@(...)`, `@(external ...)`), the hidden prefix, primitive types with their
// modifiers and the member-flags word, enumeration-, typedef- and struct-typed
// members, and arrays, whose element loop re-runs the member once per element.
// Also the typedef records' lookup; the typedef statement itself belongs to
// the statement loop and calls VLParsePrimitiveSpec.
#include "Compiler.h"

// What the first token of a member's type part makes of the member.
enum VLMemberClass : uint32_t {
    VLMemberClass_Struct = 0,
    VLMemberClass_Enumeration = 1,
    VLMemberClass_Typedef = 2,
    VLMemberClass_Primitive = 3,
};

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
        break;
    case String:  // unsigned text; modifiers have no effect
        spec.flags = VLDisplayType_String;
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
    VL_ASSERT(spec->type >= VLInstructionType_ScalarMemberU && spec->type <= VLInstructionType_ScalarMemberF);
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
    return VLMemberClass_Struct;
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
    if (VLAcceptPunctuation(ctx, VLCode(","))) order = VLExpectKeyword(ctx, {"little", "big"});
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
    case VLMemberClass_Typedef: {  // Handle name: size from the typedef's global slot
        VLConsume(ctx);
        VLString name = VLExpectIdentifier(ctx);
        return VLEmitPrimitiveMember(ctx, placement, entry->size, VLSlotCounter(ctx), &entry->spec,
                                     name, nullptr);
    }
    case VLMemberClass_Struct:  // Header name, Chunk(n) name, Packet[kind] name
        return VLParseStructMember(ctx);
    }
    return nullptr;
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
        if (brackets.open) count = VLCompileArrayCount(ctx, brackets);
        VLInstruction* member = VLParseMemberBody(ctx, memberClass, &placement, enumeration, entry);
        if (brackets.open) VLCompleteArray(ctx, brackets, member, counter, count, counterLoad);
        if (placement.external) {
            VLEmitUnary(ctx, VLInstructionType_Copy, VLCursorLocation(), placement.savedCursor);
        }
        if (hiddenPrefix) VLEmit(ctx, VLInstructionType_ShowMembers);
    }
    VLSetSlotCounter(ctx, savedCounter);
    VLExpectPunctuation(ctx, {VLCode(";")});
}
