// Enums.cpp - enumerations: the enumeration statement with implicit and
// explicit values, and enumeration values as constant operands, qualified
// (`Color.Red`) or plain (`Red`, for anonymous enumerations). Enumerations
// emit no code; the list of them is the one piece of compile state that a
// failed statement attempt puts back (done by the attempt machinery).
#include "Compiler.h"

VLEnum* VLFindEnum(const VLContext* ctx, VLString name) {
    if (name.length == 0) return nullptr;  // unnamed enumerations have no name to find
    for (VLEnum* enumeration = ctx->output.enums; enumeration; enumeration = enumeration->next) {
        if (VLStringEquals(enumeration->name, name)) return enumeration;
    }
    return nullptr;
}

static VLEnumValue* VLFindEnumValue(const VLEnum* enumeration, VLString name) {
    for (VLEnumValue* value = enumeration->values; value; value = value->next) {
        if (VLStringEquals(value->name, name)) return value;
    }
    return nullptr;
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
    VLParseEnumValues(ctx, enumeration);
    enumeration->anonymous = (anonymousWord || name.length == 0) ? 1 : 0;
    VLExpectPunctuation(ctx, {VLCode(";")});
}

// An enumeration value as an operand: `EnumName.ValueName`, decided by the
// newest enumeration of that name, or a plain `ValueName` found in the newest
// anonymous enumeration that has it. The identifier is consumed either way.
// Identifier [ "." Identifier ]
bool VLParseEnumValue(VLContext* ctx, int64_t* value) {
    if (VLIsStopped(ctx) || !ctx->token || ctx->token->type != VLTokenType_Identifier) return false;
    VLString name = VLAcceptIdentifier(ctx);
    for (VLEnum* enumeration = ctx->output.enums; enumeration; enumeration = enumeration->next) {
        if (enumeration->name.length && VLStringEquals(enumeration->name, name)) {
            VLExpectPunctuation(ctx, {VLCode(".")});
            VLString valueName = VLExpectIdentifier(ctx);
            if (VLIsStopped(ctx)) return false;
            VLEnumValue* found = VLFindEnumValue(enumeration, valueName);
            if (found) {
                *value = found->value;
                return true;
            }
            VLReportError(ctx, nullptr, "Expected enum value of %.*s.", int(enumeration->name.length),
                          enumeration->name.chars);
            return false;
        }
        if (enumeration->anonymous) {
            VLEnumValue* found = VLFindEnumValue(enumeration, name);
            if (found) {
                *value = found->value;
                return true;
            }
        }
    }
    return false;
}
