// Enums.cpp - enumerations: the enumeration statement with implicit and
// explicit values, and enumeration values as constant operands, qualified
// (`Color.Red`) or plain (`Red`, for anonymous enumerations). Enumerations
// emit no code; the list of them is the one piece of compile state that a
// failed statement attempt puts back (done by the attempt machinery). Names
// are looked up through hash indexes of the compile context, which follow
// the list.
#include "Compiler.h"

// The newest enumeration of a name, through the enumeration index, which
// mirrors output.enums.
VLEnum* VLFindEnum(const VLContext* ctx, VLString name) {
    if (name.length == 0) return nullptr;  // unnamed enumerations have no name to find
    return static_cast<VLEnum*>(VLNameIndexFind(&ctx->enumIndex, nullptr, name));
}

// Indexes output.enums afresh, after an attempt put it back to what it was.
void VLReindexEnums(VLContext* ctx) {
    VLNameIndexClear(&ctx->enumIndex);
    for (VLEnum* enumeration = ctx->output.enums; enumeration; enumeration = enumeration->next) {
        if (enumeration->name.length == 0) continue;
        VLNameIndexPut(ctx, &ctx->enumIndex, nullptr, enumeration->name, enumeration, false);  // newest first
    }
}

// The first value of that name in declaration order.
static VLEnumValue* VLFindEnumValue(const VLContext* ctx, const VLEnum* enumeration, VLString name) {
    return static_cast<VLEnumValue*>(VLNameIndexFind(&ctx->enumValueIndex, enumeration, name));
}

// Parses the values up to and including the closing `}`, appending them in
// declaration order. An implicit value is the previous one plus 1 (wrapping),
// starting at 0. Commas are optional separators.
// { Value [ "=" constant-expression ] [ "," ] } "}"
static void VLParseEnumValues(VLContext* ctx, VLEnum* enumeration) {
    VLEnumValue** tail = &enumeration->values;
    uint64_t next = 0;
    while (!VLIsStopped(ctx)) {
        if (VLAcceptPunctuation(ctx, VLCode("}"))) return;
        VLString name = VLExpectIdentifier(ctx);
        uint64_t value = next;
        if (VLAcceptPunctuation(ctx, VLCode("="))) value = uint64_t(VLParseConstantExpression(ctx));
        if (VLIsStopped(ctx)) return;
        VLEnumValue* entry = VLArenaNew<VLEnumValue>(ctx->arena);
        entry->name = VLCopyString(ctx, name);
        entry->value = int64_t(value);
        *tail = entry;
        tail = &entry->next;
        VLNameIndexPut(ctx, &ctx->enumValueIndex, enumeration, entry->name, entry, false);
        next = value + 1;
        if (VLAcceptPunctuation(ctx, VLCode("}"))) return;
        VLAcceptPunctuation(ctx, VLCode(","));
    }
}

// The enumeration statement. While its values are declared the enumeration
// answers plain names (so later values can use earlier ones); afterwards only
// an unnamed or `anonymous` enumeration does.
// "enum" [ "anonymous" ] [ Name ] "{" values "}" ";"
void VLParseEnum(VLContext* ctx) {
    VLExpectKeyword(ctx, {"enum"});
    bool anonymousWord = VLAcceptWord(ctx, "anonymous") != 0;
    VLString name = VLAcceptIdentifier(ctx);
    VLExpectPunctuation(ctx, {VLCode("{")});
    if (VLIsStopped(ctx)) return;

    VLEnum* enumeration = VLArenaNew<VLEnum>(ctx->arena);
    enumeration->name = name.length ? VLCopyString(ctx, name) : VLString{};
    enumeration->anonymous = 1;
    enumeration->next = ctx->output.enums;
    ctx->output.enums = enumeration;
    if (name.length) VLNameIndexPut(ctx, &ctx->enumIndex, nullptr, enumeration->name, enumeration, true);
    ctx->enumBeingDeclared = enumeration;
    VLParseEnumValues(ctx, enumeration);
    ctx->enumBeingDeclared = nullptr;
    enumeration->anonymous = (anonymousWord || name.length == 0) ? 1 : 0;
    VLExpectPunctuation(ctx, {VLCode(";")});
    if (VLIsStopped(ctx) || !enumeration->anonymous) return;
    // From now on its values answer plain names, before those of older enumerations.
    for (VLEnumValue* entry = enumeration->values; entry; entry = entry->next) {
        VLNameIndexPut(ctx, &ctx->plainValueIndex, nullptr, entry->name, enumeration, true);
    }
}

// The qualified form after an enumeration's name: "." ValueName.
static bool VLParseQualifiedValue(VLContext* ctx, const VLEnum* enumeration, int64_t* value) {
    VLExpectPunctuation(ctx, {VLCode(".")});
    VLToken* valueToken = ctx->token;
    VLString valueName = VLExpectIdentifier(ctx);
    if (VLIsStopped(ctx)) return false;
    VLEnumValue* found = VLFindEnumValue(ctx, enumeration, valueName);
    if (found) {
        *value = found->value;
        return true;
    }
    VLReportError(ctx, nullptr, "Expected enum value of %.*s.", int(enumeration->name.length),
                  enumeration->name.chars);
    VLNoteErrorDetail(ctx, VLErrorDetail_UnknownEnumValue, valueToken);
    if (ctx->lastStoredError) ctx->lastStoredError->enumeration = enumeration;
    return false;
}

// An enumeration value as an operand: `EnumName.ValueName`, decided by the
// newest enumeration of that name, or a plain `ValueName` found in the newest
// anonymous enumeration that has it; of the two, the newer enumeration decides
// (the newest first, as if the list were walked). The enumeration being
// declared is the newest of all and answers plain names. The identifier is
// consumed either way.
// Identifier [ "." Identifier ]
bool VLParseEnumValue(VLContext* ctx, int64_t* value) {
    if (VLIsStopped(ctx) || !ctx->token || ctx->token->type != VLTokenType_Identifier) return false;
    VLToken* nameToken = ctx->token;
    VLString name = VLAcceptIdentifier(ctx);
    const VLEnum* declared = ctx->enumBeingDeclared;
    if (declared) {
        if (declared->name.length && VLStringEquals(declared->name, name)) {
            return VLParseQualifiedValue(ctx, declared, value);
        }
        VLEnumValue* found = VLFindEnumValue(ctx, declared, name);
        if (found) {
            *value = found->value;
            return true;
        }
    }
    const VLEnum* named = VLFindEnum(ctx, name);
    const VLEnum* plain = static_cast<const VLEnum*>(VLNameIndexFind(&ctx->plainValueIndex, nullptr, name));
    if (named && plain && named != plain) {
        // Both forms are possible: the newer enumeration decides.
        for (const VLEnum* enumeration = ctx->output.enums; enumeration; enumeration = enumeration->next) {
            if (enumeration == named) break;
            if (enumeration == plain) {
                named = nullptr;
                break;
            }
        }
    }
    if (named) return VLParseQualifiedValue(ctx, named, value);
    if (!plain) {
        ctx->unresolvedName = nameToken;  // for the error that may follow
        return false;
    }
    VLEnumValue* found = VLFindEnumValue(ctx, plain, name);
    VL_ASSERT(found != nullptr);
    *value = found->value;
    return true;
}
